// What no merger case reaches of the workbook and its file: sheets past their row limit, cells of views seen
// before, a file flushed while it is written.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "merge/writing/workbook.h"
#include "tests/unit/file_bytes.h"

namespace {

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

// The entries of a ZIP by name, read through its central directory.
std::map<std::string, std::string> ReadZip(const std::string& bytes) {
  std::map<std::string, std::string> entries;
  const std::size_t end = bytes.size() - 22;
  std::size_t at = Read32(bytes, end + 16);
  for (std::uint32_t i = 0; i < Read16(bytes, end + 10); ++i) {
    const std::string name = bytes.substr(at + 46, Read16(bytes, at + 28));
    const std::size_t local = Read32(bytes, at + 42);
    const std::size_t data = local + 30 + Read16(bytes, local + 26) + Read16(bytes, local + 28);
    entries[name] = Inflated(bytes.substr(data, Read32(bytes, at + 20)));
    at += 46 + name.size() + Read16(bytes, at + 30) + Read16(bytes, at + 32);
  }
  return entries;
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

// Rows past the limit continue on a sheet of their own, each sheet with the header, its own filter and its
// own range of numbers stored as text; every cell in the form of the first sheet's (which the merger's cases
// read in spreadsheets), referring to one shared text. The rows of one report hand the workbook the very
// same views again and again: a view that begins where the last one did but is shorter is another text, a
// cell written again is counted again, and an empty view gives no cell.
TEST(Workbook, SheetsContinuePastTheRowLimit) {
  const std::wstring_view pcs = L"PC1PC3";
  const std::pair<std::size_t, std::size_t> computers[] = {{0, 3}, {0, 2}, {0, 2}, {0, 3},
                                                           {3, 3}, {0, 0}, {0, 3}};
  {
    TableWorkbook workbook(L"sheets_test.xlsx", 3);  // the header and two rows a sheet
    for (const auto& [start, length] : computers) {
      TableRow row;
      row[kComputerColumn] = pcs.substr(start, length);
      row[kFileColumn] = L"電腦";  // the same text as a title
      ASSERT_TRUE(workbook.AddRow(row));
    }
    ASSERT_TRUE(workbook.Commit());
  }
  const std::map<std::string, std::string> entries = ReadZip(ReadBytes("sheets_test.xlsx"));
  const std::string& book = entries.at("xl/workbook.xml");
  for (const char* sheet : {"\"USB 裝置記錄\" sheetId=\"1\"", "\"USB 裝置記錄 (2)\" sheetId=\"2\"",
                            "\"USB 裝置記錄 (3)\" sheetId=\"3\"", "\"USB 裝置記錄 (4)\" sheetId=\"4\""}) {
    EXPECT_NE(book.find(std::string("<sheet name=") + sheet), std::string::npos) << book;
  }
  EXPECT_EQ(entries.count("xl/worksheets/sheet5.xml"), 0u);
  const std::string& sharedXml = entries.at("xl/sharedStrings.xml");
  const std::vector<std::string> shared = SharedTexts(sharedXml);
  ASSERT_EQ(std::vector<std::string>(shared.begin() + 13, shared.end()),
            (std::vector<std::string>{"PC1", "PC", "PC3"}));  // after the 13 titles
  // The titles on four sheets, the seven rows' file and six computers.
  EXPECT_NE(sharedXml.find("count=\"65\" uniqueCount=\"16\""), std::string::npos) << sharedXml;
  const auto textOf = [&shared](const std::pair<std::string, std::string>& cell) {
    return cell.second.empty() ? "" : shared.at(std::stoul(cell.second));
  };
  const struct {
    const char* part;
    std::vector<const char*> computers;
    const char* range;
  } sheets[] = {{"xl/worksheets/sheet1.xml", {"PC1", "PC"}, "A1:M3"},
                {"xl/worksheets/sheet2.xml", {"PC", "PC1"}, "A1:M3"},
                {"xl/worksheets/sheet3.xml", {"PC3", ""}, "A1:M3"},
                {"xl/worksheets/sheet4.xml", {"PC1"}, "A1:M2"}};
  const std::string& first = entries.at("xl/worksheets/sheet1.xml");
  for (const auto& sheet : sheets) {
    const std::string& xml = entries.at(sheet.part);
    EXPECT_EQ(Cell(xml, "A1").first, Cell(first, "A1").first) << sheet.part;
    EXPECT_EQ(textOf(Cell(xml, "A1")), "電腦") << sheet.part;
    EXPECT_NE(xml.find("state=\"frozen\""), std::string::npos) << sheet.part;
    for (std::size_t i = 0; i < sheet.computers.size(); ++i) {
      const std::string row = std::to_string(i + 2);
      if (*sheet.computers[i]) {
        EXPECT_EQ(Cell(xml, "A" + row).first, Cell(first, "A2").first) << sheet.part << " " << row;
      }
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

// A file large enough to be flushed on the writer's own thread while it is written: whole when committed
// (its pieces in order), gone with its partial file when not.
TEST(WholeFile, LargeFileWholeOrNotAtAll) {
  std::string piece(1 << 20, 'x'), whole;
  for (const bool commit : {true, false}) {
    whole.clear();
    {
      WholeFileWriter writer(L"whole_test.bin");
      for (char tag = 'A'; tag < 'A' + 40; ++tag) {
        piece.front() = piece.back() = tag;
        whole += piece;
        ASSERT_TRUE(writer.Write(piece));
      }
      EXPECT_EQ(commit && writer.Commit(), commit);
    }
    EXPECT_EQ(ReadBytes("whole_test.bin") == whole, commit);
    EXPECT_FALSE(std::filesystem::exists("whole_test.bin.partial"));
    std::filesystem::remove("whole_test.bin");
  }
}

}  // namespace
