#include "registry/reg_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/scratch_registry.h"

namespace {

// What a query must leave in a buffer it reports failure for.
constexpr wchar_t kUntouched = L'?';

std::vector<wchar_t> UntouchedBuffer(std::size_t units) {
  return std::vector<wchar_t>(units, kUntouched);
}

bool IsUntouched(const std::vector<wchar_t>& buffer) {
  return std::all_of(buffer.begin(), buffer.end(), [](wchar_t unit) { return unit == kUntouched; });
}

std::string Utf16Bytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

TEST(RegKeyTest, OpensForReadingAndCountsAndNamesSubkeys) {
  ScratchRegistry registry(L"RegKey.Subkeys");
  registry.CreateKey(L"Parent\\Beta");
  registry.CreateKey(L"Parent\\alpha");
  registry.CreateKey(L"Parent\\Gamma");
  registry.CreateKey(L"Leaf");

  RegKey parent(registry.Root(), L"Parent");
  ASSERT_NE(parent.Handle(), nullptr);
  EXPECT_EQ(parent.SubkeyCount(), 3);
  wchar_t name[16] = {};
  ASSERT_TRUE(parent.EnumSubkey(name, 16, 0));
  EXPECT_STREQ(name, L"alpha");

  // An empty path opens the parent once more; the new object answers for the parent.
  RegKey again(parent.Handle(), L"");
  ASSERT_NE(again.Handle(), nullptr);
  EXPECT_NE(again.Handle(), parent.Handle());
  EXPECT_EQ(again.SubkeyCount(), 3);
  ASSERT_TRUE(again.EnumSubkey(name, 16, 2));
  EXPECT_STREQ(name, L"Gamma");

  // Past the last subkey, and a name that does not fit, leave the buffer as it was.
  std::vector<wchar_t> buffer = UntouchedBuffer(16);
  EXPECT_FALSE(parent.EnumSubkey(buffer.data(), 16, 3));
  EXPECT_FALSE(parent.EnumSubkey(buffer.data(), 5, 2));
  EXPECT_TRUE(IsUntouched(buffer));
  ASSERT_TRUE(parent.EnumSubkey(buffer.data(), 6, 2));
  EXPECT_STREQ(buffer.data(), L"Gamma");

  RegKey leaf(registry.Root(), L"Leaf");
  EXPECT_EQ(leaf.SubkeyCount(), 0);

  // Opened for reading only: the handle cannot write.
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(leaf.Handle(), L"Written", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);

  EXPECT_EQ(again.Close(), ERROR_SUCCESS);
  EXPECT_EQ(leaf.Close(), ERROR_SUCCESS);
  EXPECT_EQ(parent.Close(), ERROR_SUCCESS);
}

TEST(RegKeyTest, KeyThatDidNotOpenFailsEveryQueryWithoutTouchingTheBuffer) {
  ScratchRegistry registry(L"RegKey.Missing");
  RegKey missing(registry.Root(), L"No\\Such\\Key");
  ASSERT_EQ(missing.Handle(), nullptr);
  EXPECT_EQ(missing.SubkeyCount(), -1);

  std::vector<wchar_t> buffer = UntouchedBuffer(1024);
  EXPECT_FALSE(missing.EnumSubkey(buffer.data(), 1024, 0));
  EXPECT_FALSE(missing.FindStringValue(buffer.data(), 1024, L"FriendlyName"));
  EXPECT_FALSE(missing.LastWriteText(buffer.data()));
  EXPECT_TRUE(IsUntouched(buffer));

  RegKey child(missing.Handle(), L"");
  EXPECT_EQ(child.Handle(), nullptr);
  EXPECT_NE(child.Close(), ERROR_SUCCESS);
  EXPECT_NE(missing.Close(), ERROR_SUCCESS);
}

struct ValueCase {
  const char* what;
  std::wstring storedName;
  DWORD type;
  std::string data;
  DWORD size;  // bytes stored; the data may go on past it
  std::wstring soughtName;
  DWORD capacity;
  bool found;
  std::wstring text;
};

ValueCase Text(const char* what, const std::wstring& stored, DWORD type, const std::wstring& data,
               const std::wstring& sought, bool found, const std::wstring& text) {
  const std::string bytes = Utf16Bytes(data);
  return {what, stored, type, bytes, static_cast<DWORD>(bytes.size()), sought, 1024, found, text};
}

std::vector<ValueCase> ValueCases() {
  const std::wstring units255(255, L'a');
  const std::wstring units254(254, L'b');
  const std::wstring units256(256, L'c');
  const std::wstring units299(299, L'd');
  return {
      Text("plain string", L"FriendlyName", REG_SZ, std::wstring(L"Stick USB Device", 17), L"FriendlyName",
           true, L"Stick USB Device"),
      Text("name in other letter case", L"friendlyname", REG_SZ, std::wstring(L"Stick", 6), L"FriendlyName",
           false, L""),
      Text("longer stored name", L"FriendlyNameX", REG_SZ, std::wstring(L"Stick", 6), L"FriendlyName", false,
           L""),
      Text("shorter stored name", L"Friendly", REG_SZ, std::wstring(L"Stick", 6), L"FriendlyName", false,
           L""),
      Text("510 bytes", L"V", REG_SZ, units254 + L'\0', L"V", true, units254),
      Text("512 bytes", L"V", REG_SZ, units255 + L'\0', L"V", true, units255),
      Text("512 bytes without terminator", L"V", REG_BINARY, units256, L"V", true, units256),
      Text("600 bytes", L"V", REG_SZ, units299 + L'\0', L"V", false, L""),
      Text("multi-string: the first string", L"V", REG_MULTI_SZ, std::wstring(L"one\0two\0\0", 9), L"V", true,
           L"one"),
      Text("binary without terminator", L"V", REG_BINARY, L"ab", L"V", true, L"ab"),
      Text("empty data", L"V", REG_BINARY, L"", L"V", true, L""),
      Text("511-unit name", std::wstring(511, L'n'), REG_SZ, std::wstring(L"x", 2), std::wstring(511, L'n'),
           true, L"x"),
      Text("512-unit name", std::wstring(512, L'n'), REG_SZ, std::wstring(L"x", 2), std::wstring(512, L'n'),
           false, L""),
      {"number 1 as one unit", L"V", REG_DWORD, std::string("\1\0\0\0", 4), 4, L"V", 1024, true,
       std::wstring(1, 1)},
      // The unit after the stored size is not null, so the registry stores exactly what it is given.
      {"string without terminator", L"V", REG_SZ, Utf16Bytes(L"abcX"), 6, L"V", 1024, true, L"abc"},
      {"odd byte count", L"V", REG_SZ, Utf16Bytes(L"abcX"), 5, L"V", 1024, true, L"ab"},
      {"odd byte count, one byte", L"V", REG_BINARY, "zz", 1, L"V", 1024, true, L""},
      {"cut to the capacity", L"V", REG_SZ, Utf16Bytes(std::wstring(L"abcdef", 7)), 14, L"V", 4, true,
       L"abc"},
  };
}

TEST(RegKeyTest, FindStringValueTakesExactNamesAndCopiesOnlyWhatWasStored) {
  for (const ValueCase& c : ValueCases()) {
    SCOPED_TRACE(c.what);
    ScratchRegistry registry(L"RegKey.Values");
    // Enumerated first, so that its longer data sit in the enumeration buffer before the sought value's.
    registry.SetString(L"Key", L"Earlier", std::wstring(300, L'X'));
    registry.SetRaw(L"Key", c.storedName, c.type, c.data, c.size);
    registry.SetString(L"Key", L"Later", L"later");

    RegKey key(registry.Root(), L"Key");
    std::vector<wchar_t> buffer = UntouchedBuffer(1024);
    EXPECT_EQ(key.FindStringValue(buffer.data(), c.capacity, c.soughtName.c_str()), c.found);
    if (c.found) {
      EXPECT_EQ(std::wstring(buffer.data()), c.text);
      buffer.erase(buffer.begin(), buffer.begin() + c.text.size() + 1);
    }
    EXPECT_TRUE(IsUntouched(buffer)) << "written past the text and its terminator";
    key.Close();
  }
}

TEST(RegKeyTest, FindStringValueOnKeyWithoutValuesFails) {
  ScratchRegistry registry(L"RegKey.NoValues");
  registry.CreateKey(L"Empty");
  RegKey key(registry.Root(), L"Empty");
  std::vector<wchar_t> buffer = UntouchedBuffer(1024);
  EXPECT_FALSE(key.FindStringValue(buffer.data(), 1024, L""));
  EXPECT_TRUE(IsUntouched(buffer));
  key.Close();
}

TEST(RegKeyTest, LastWriteTextIsTheLocalTimeToTheSecond) {
  // Written 2005-01-02 12:34:56.789 UTC (tests/fixtures/unit_keys.reg); the tests run at UTC+8.
  RegKey key(HKEY_LOCAL_MACHINE, L"Software\\VestigiaFixtures\\FixedTime");
  ASSERT_NE(key.Handle(), nullptr) << "fixture keys missing from the unit prefix";
  std::vector<wchar_t> buffer = UntouchedBuffer(64);
  ASSERT_TRUE(key.LastWriteText(buffer.data()));
  EXPECT_EQ(std::wstring(buffer.data()), L"2005/01/02  20:34:56");
  EXPECT_TRUE(IsUntouched(std::vector<wchar_t>(buffer.begin() + 21, buffer.end())));
  key.Close();

  // The hour after midnight local time, from the day before in UTC.
  RegKey lastUse(HKEY_LOCAL_MACHINE,
                 L"Software\\VestigiaFixtures\\Machine\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                 L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\\"
                 L"##?#USBSTOR#Disk&Ven_Timed&Prod_Stick#0001#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\\#");
  wchar_t text[RegKey::kTimeTextUnits] = {};
  ASSERT_TRUE(lastUse.LastWriteText(text));
  EXPECT_STREQ(text, L"2000/01/01  07:59:59");
  lastUse.Close();
}

}  // namespace
