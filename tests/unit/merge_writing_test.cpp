// The workbook's ZIP framing, and what no merger case reaches: a sheet continued past its row limit, cells
// of views seen before, and every unit that XML text cannot carry.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "merge/writing/workbook.h"
#include "merge/writing/zip_writer.h"

namespace {

std::string ReadBytes(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::uint32_t Read16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes.at(at)) | static_cast<unsigned char>(bytes.at(at + 1)) << 8;
}

std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

std::string Inflated(const std::string& deflated) {
  z_stream stream = {};
  EXPECT_EQ(inflateInit2(&stream, -MAX_WBITS), Z_OK);
  std::string out(1 << 22, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  stream.avail_in = static_cast<uInt>(deflated.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

struct ZipEntry {
  std::uint32_t crc, compressedSize, size;
  std::string data;
};

// Reads a ZIP as the format describes it, from its end record and central directory, and checks that
// each entry's local header and data descriptor say what the directory says.
std::map<std::string, ZipEntry> ReadZip(const std::string& bytes) {
  std::map<std::string, ZipEntry> entries;
  const std::size_t end = bytes.size() - 22;
  EXPECT_EQ(Read32(bytes, end), 0x06054b50u);
  std::size_t at = Read32(bytes, end + 16);
  EXPECT_EQ(at + Read32(bytes, end + 12), end);
  for (std::uint32_t i = 0; i < Read16(bytes, end + 10); ++i) {
    EXPECT_EQ(Read32(bytes, at), 0x02014b50u);
    const std::string name = bytes.substr(at + 46, Read16(bytes, at + 28));
    ZipEntry entry;
    entry.crc = Read32(bytes, at + 16);
    entry.compressedSize = Read32(bytes, at + 20);
    entry.size = Read32(bytes, at + 24);
    const std::size_t local = Read32(bytes, at + 42);
    EXPECT_EQ(Read32(bytes, local), 0x04034b50u) << name;
    // Sizes after the data (bit 3), deflated at the fastest level (bits 1 and 2), here as in the directory.
    EXPECT_EQ(Read16(bytes, local + 6), 0x000Eu) << name;
    EXPECT_EQ(Read16(bytes, at + 8), 0x000Eu) << name;
    EXPECT_EQ(Read32(bytes, local + 10), 0x00210000u) << name;  // 1980-01-01 00:00
    EXPECT_EQ(bytes.substr(local + 30, name.size()), name);
    const std::size_t data = local + 30 + name.size() + Read16(bytes, local + 28);
    entry.data = Inflated(bytes.substr(data, entry.compressedSize));
    const std::size_t descriptor = data + entry.compressedSize;
    EXPECT_EQ(Read32(bytes, descriptor), 0x08074b50u) << name;
    EXPECT_EQ(Read32(bytes, descriptor + 4), entry.crc) << name;
    EXPECT_EQ(Read32(bytes, descriptor + 8), entry.compressedSize) << name;
    EXPECT_EQ(Read32(bytes, descriptor + 12), entry.size) << name;
    entries[name] = entry;
    at += 46 + name.size() + Read16(bytes, at + 30) + Read16(bytes, at + 32);
  }
  return entries;
}

TEST(Zip, EntriesReadBackWithTheirCrcAndSizes) {
  std::string large;
  for (int i = 0; large.size() < 700000; ++i) {  // more than is deflated at once
    large += std::to_string(i * 7919) + ",";
  }
  const struct {
    const char* name;
    std::string data;
    std::uint32_t crc;  // 0: not known by heart
  } cases[] = {{"a.txt", "hello", 0x3610A686}, {"empty/", "", 0}, {"dir/large.csv", large, 0}};
  ZipWriter zip(L"zip_test.zip");
  for (const auto& c : cases) {
    ASSERT_TRUE(zip.BeginEntry(c.name));
    ASSERT_TRUE(zip.Append(c.data.substr(0, c.data.size() / 2)));
    ASSERT_TRUE(zip.Append(c.data.substr(c.data.size() / 2)));
  }
  ASSERT_TRUE(zip.Commit());
  const std::map<std::string, ZipEntry> entries = ReadZip(ReadBytes("zip_test.zip"));
  ASSERT_EQ(entries.size(), std::size(cases));
  for (const auto& c : cases) {
    const ZipEntry& entry = entries.at(c.name);
    EXPECT_EQ(entry.data, c.data) << c.name;
    EXPECT_EQ(entry.size, c.data.size()) << c.name;
    if (c.crc != 0) {
      EXPECT_EQ(entry.crc, c.crc) << c.name;
    }
  }
  EXPECT_LT(entries.at("dir/large.csv").compressedSize, large.size() / 2);
}

// The shared texts, in their order, as written (each a plain "<si><t>" entry).
std::vector<std::string> SharedTexts(const std::string& xml) {
  std::vector<std::string> texts;
  for (std::size_t at = xml.find("<si><t"); at != std::string::npos; at = xml.find("<si><t", at + 1)) {
    const std::size_t begin = xml.find('>', at + 5) + 1;
    texts.push_back(xml.substr(begin, xml.find("</t></si>", begin) - begin));
  }
  return texts;
}

// The cell `ref` of a sheet: its attributes after the reference, and its value.
std::pair<std::string, std::string> Cell(const std::string& sheet, const std::string& ref) {
  const std::size_t at = sheet.find("<c r=\"" + ref + "\"");
  if (at == std::string::npos) {
    return {};
  }
  const std::size_t attributes = at + ref.size() + 7, value = sheet.find("<v>", at) + 3;
  return {sheet.substr(attributes, sheet.find('>', at) - attributes),
          sheet.substr(value, sheet.find("</v>", value) - value)};
}

// What a spreadsheet shows of a cell's form, from its attributes: "text" for the Text number format, else
// the format's id; " bold" for a bold font; " shared" for a text from the shared texts.
std::string Form(const std::string& styles, const std::string& attributes) {
  const std::size_t style = std::stoul(attributes.substr(attributes.find(" s=\"") + 4));
  std::size_t xf = styles.find("<cellXfs"), font = styles.find("<fonts");
  for (std::size_t i = 0; i <= style; ++i) {
    xf = styles.find("<xf ", xf + 1);
  }
  const auto number = [&styles, xf](const std::string& name) {
    return std::stoul(styles.substr(styles.find(name + "=\"", xf) + name.size() + 2));
  };
  for (std::size_t i = 0; i <= number("fontId"); ++i) {
    font = styles.find("<font>", font + 1);
  }
  const std::size_t format = number("numFmtId");
  return (format == 49 ? "text" : std::to_string(format)) +
         (styles.compare(font, 10, "<font><b/>") ? "" : " bold") +
         (attributes.find(" t=\"s\"") == std::string::npos ? "" : " shared");
}

// Rows past the limit continue on a sheet of their own, each sheet with the header, its own filter and its
// own range of numbers stored as text; every text cell, in the Text format, refers to one shared text.
TEST(Workbook, SheetsContinuePastTheRowLimit) {
  {
    TableWorkbook workbook(L"sheets_test.xlsx", 3);  // the header and two rows a sheet
    for (const wchar_t* computer : {L"PC1", L"PC2", L"PC3", L"PC4", L"PC1"}) {
      TableRow row;
      row[kComputerColumn] = computer;
      row[kFileColumn] = L"電腦";  // the same text as a title
      ASSERT_TRUE(workbook.AddRow(row));
    }
    ASSERT_TRUE(workbook.Commit());
  }
  const std::map<std::string, ZipEntry> entries = ReadZip(ReadBytes("sheets_test.xlsx"));
  const std::string& book = entries.at("xl/workbook.xml").data;
  EXPECT_NE(book.find("<sheet name=\"USB 裝置記錄\" sheetId=\"1\""), std::string::npos) << book;
  EXPECT_NE(book.find("<sheet name=\"USB 裝置記錄 (2)\" sheetId=\"2\""), std::string::npos) << book;
  EXPECT_NE(book.find("<sheet name=\"USB 裝置記錄 (3)\" sheetId=\"3\""), std::string::npos) << book;
  EXPECT_EQ(entries.count("xl/worksheets/sheet4.xml"), 0u);
  const std::string& sharedXml = entries.at("xl/sharedStrings.xml").data;
  const std::string& styles = entries.at("xl/styles.xml").data;
  const std::vector<std::string> shared = SharedTexts(sharedXml);
  ASSERT_EQ(shared.size(), 13u + 4u) << sharedXml;  // the titles, then PC1 to PC4
  EXPECT_NE(sharedXml.find("count=\"49\" uniqueCount=\"17\""), std::string::npos) << sharedXml;
  const auto textOf = [&shared](const std::pair<std::string, std::string>& cell) {
    const std::size_t index = std::stoul("0" + cell.second);
    return index < shared.size() ? shared[index] : "";
  };
  const struct {
    const char* part;
    std::vector<const char*> computers;
    const char* range;
  } sheets[] = {{"xl/worksheets/sheet1.xml", {"PC1", "PC2"}, "A1:M3"},
                {"xl/worksheets/sheet2.xml", {"PC3", "PC4"}, "A1:M3"},
                {"xl/worksheets/sheet3.xml", {"PC1"}, "A1:M2"}};
  for (const auto& sheet : sheets) {
    const std::string& xml = entries.at(sheet.part).data;
    EXPECT_EQ(Form(styles, Cell(xml, "A1").first), "text bold shared") << sheet.part;
    EXPECT_EQ(textOf(Cell(xml, "A1")), "電腦") << sheet.part;
    EXPECT_NE(xml.find("state=\"frozen\""), std::string::npos) << sheet.part;
    for (std::size_t i = 0; i < sheet.computers.size(); ++i) {
      const std::string row = std::to_string(i + 2);
      EXPECT_EQ(Form(styles, Cell(xml, "A" + row).first), "text shared") << sheet.part << " " << row;
      EXPECT_EQ(textOf(Cell(xml, "A" + row)), sheet.computers[i]) << sheet.part << " " << row;
      EXPECT_EQ(Cell(xml, "M" + row).second, "0") << sheet.part << " " << row;
    }
    EXPECT_EQ(xml.find("<row r=\"" + std::to_string(sheet.computers.size() + 2)), std::string::npos);
    EXPECT_NE(xml.find(std::string("<autoFilter ref=\"") + sheet.range +
                       "\"/><ignoredErrors><ignoredError sqref=\"" + sheet.range +
                       "\" numberStoredAsText=\"1\"/></ignoredErrors></worksheet>"),
              std::string::npos)
        << xml;
  }
}

// The rows of one report hand the workbook the very same views again and again; a view that begins where
// the last one did but is shorter is another text, and a cell written again is counted again.
TEST(Workbook, CellsOfViewsSeenBefore) {
  const std::wstring_view texts = L"PC1";
  const std::size_t lengths[] = {3, 2, 2, 3, 0, 3};  // of each row's computer, a view of `texts`
  {
    TableWorkbook workbook(L"views_test.xlsx");
    for (const std::size_t length : lengths) {
      TableRow cells;
      cells[kComputerColumn] = texts.substr(0, length);
      ASSERT_TRUE(workbook.AddRow(cells));
    }
    ASSERT_TRUE(workbook.Commit());
  }
  const std::map<std::string, ZipEntry> entries = ReadZip(ReadBytes("views_test.xlsx"));
  const std::string& sharedXml = entries.at("xl/sharedStrings.xml").data;
  const std::vector<std::string> shared = SharedTexts(sharedXml);
  ASSERT_EQ(std::vector<std::string>(shared.begin() + 13, shared.end()),
            (std::vector<std::string>{"PC1", "PC"}));
  // The 13 titles and the five computers' cells.
  EXPECT_NE(sharedXml.find("count=\"18\" uniqueCount=\"15\""), std::string::npos) << sharedXml;
  const std::string& sheet = entries.at("xl/worksheets/sheet1.xml").data;
  for (std::size_t i = 0; i < std::size(lengths); ++i) {
    const std::pair<std::string, std::string> computer = Cell(sheet, "A" + std::to_string(i + 2));
    // An empty view gives no cell at all.
    EXPECT_EQ(computer.second.empty() ? "" : shared.at(std::stoul(computer.second)),
              std::string("PC1", lengths[i]))
        << i;
  }
}

// Every unit that XML cannot carry, and CR, as the format's escape; every '_' that would begin, as written,
// an escape of four hex digits (Excel) or fewer (LibreOffice) guarded as the escaped '_'.
TEST(Workbook, CellTextReadsBackExactly) {
  const struct {
    std::wstring text;
    std::string xml;
  } cases[] = {
      {L"a&b<c>d\"'", "a&amp;b&lt;c&gt;d\"'"},
      {L"\t\n\r \r\n", "\t\n_x000D_ _x000D_\n"},
      {L"_x0041_ _xABcd_ _x005F_", "_x005F_x0041_ _x005F_xABcd_ _x005F_x005F_"},
      {L"_x0_ _x7_ _xE_ _x0e_ _x41_ _x004_",
       "_x005F_x0_ _x005F_x7_ _x005F_xE_ _x005F_x0e_ _x005F_x41_ _x005F_x004_"},
      {L"_X0041_ _x00041_ _x_ _x00G1_ _x41 __x0041_", "_X0041_ _x00041_ _x_ _x00G1_ _x41 __x005F_x0041_"},
      {L"_x1\a _x0041\r _x2\xDC00 _x3\xD83D\xDE00",
       "_x005F_x1_x0007_ _x005F_x0041_x000D_ _x005F_x2_xDC00_ _x3\xF0\x9F\x98\x80"},
      {std::wstring(L"a\0b", 3) + L"\x1F\xFFFE\xFFFF", "a_x0000_b_x001F__xFFFE__xFFFF_"},
      {L"\xD800x\xDC00", "_xD800_x_xDC00_"},
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {L"裝置 é", "裝置 \xC3\xA9"},
  };
  for (const auto& c : cases) {
    std::string xml;
    AppendCellText(c.text, xml);
    EXPECT_EQ(xml, c.xml);
  }
}

}  // namespace
