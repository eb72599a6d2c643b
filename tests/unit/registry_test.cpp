#include <gtest/gtest.h>
#include <windows.h>

#include "registry/reg_key.h"

namespace {

// The program only reads the registry: a key it opens refuses a write.
TEST(RegKey, OpensForReadingOnly) {
  RegKey key(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR");
  ASSERT_NE(key.Handle(), nullptr);
  EXPECT_EQ(RegSetValueExW(key.Handle(), L"Written", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2),
            ERROR_ACCESS_DENIED);
  key.Close();
}

}  // namespace
