#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_format.h"

// The records of a report, in its own order and in the kind of each one's section. Their values stand one
// after another in `values`, one allocation for the whole report; a record holds where each of its values
// begins and how long it is. A field that the kind does not carry is empty. The two times are given as
// "YYYY-MM-DD hh:mm:ss", or empty where the report has no time.
enum class RecordKind { kBothViews, kNoInterface, kNoDeviceKey };
struct ReportRecord {
  RecordKind kind = RecordKind::kBothViews;
  std::uint32_t begin[kReportFieldCount] = {};
  std::uint32_t length[kReportFieldCount] = {};
};
struct ReportContent {
  std::wstring values;
  std::vector<ReportRecord> records;

  std::wstring_view Field(const ReportRecord& record, ReportField field) const {
    const int i = static_cast<int>(field);
    return std::wstring_view(values).substr(record.begin[i], record.length[i]);
  }
};

// How a file read, and the line (from 1) that the outcome concerns.
struct ReportReading {
  enum Outcome {
    kRead,        // one reading, whole: `content` holds it
    kNotAReport,  // the first line is not the report's header
    kMisfit,      // `line` fits nowhere in the report's layout
    kIncomplete,  // the file ends inside a record or before the second header; `line` ends the last whole
                  // block
    kAmbiguous,   // from `line` on the file reads in more than one way
    kTooLong,     // the value that begins on `line` is longer than any that the program writes
    kNoSuchTime,  // the time on `line` is one that Windows' clock never shows (IsClockTime)
  };
  Outcome outcome = kNotAReport;
  int line = 1;
  ReportContent content;
};

// Reads report text strictly as the program composes it: the header, the records of devices seen in both
// views, the second header, the records of devices with no interface entry, then those of entries with
// no device key. A name or a description may go on over several lines, and any of its lines may look like
// a label, so a file can read in more than one way: it is read only when exactly one reading takes it
// whole. What anchors the readings: a time field holds time text or nothing, a device key name holds no
// line break, and no value holds an empty line, so that every empty line ends a header or a record. Time
// text is what the format renders from any six numbers (a year of up to five digits), so that which
// readings there are does not hang on what the numbers say: a time that is no moment of the clock (a 31
// February, an hour 24, a year before 1601) is not left to be read into a name instead, but refuses the
// one reading that holds it in a time field. So does a value longer than kMaxReportValueUnits. The program
// never writes either, and a spreadsheet cell could not hold every such value.
// Needs no platform call.
class ReportReader {
 public:
  // `readBack` gives one of the report's fixed texts as it reads back from the code page of the files to
  // be read: in a single-byte code page every Chinese character reads back as '?', so the labels all look
  // alike and the layout alone tells the fields apart.
  explicit ReportReader(const std::function<std::wstring(const wchar_t*)>& readBack);

  // Reads `text` into `reading`, whose storage is reused: reading file after file into one ReportReading
  // allocates only when a file needs more room than any before it.
  void Read(std::wstring_view text, ReportReading& reading) const;

 private:
  template <typename Visit>
  void ForEachTransition(int state, std::wstring_view line, unsigned starts, Visit&& visit) const;
  // A mask of the fields whose first line `line` can be: a label, and after a time label a time or nothing.
  unsigned FieldStarts(std::wstring_view line) const;

  std::wstring header_;
  std::wstring incompleteHeader_;
  std::vector<std::wstring> labels_[3];  // per layout, per line
  // Each label text once, with the fields (a bit each, as FieldStarts gives them) that it begins: in a
  // single-byte code page all labels read back alike.
  struct DistinctLabel {
    std::wstring text;
    unsigned fields;
    unsigned timeFields;
  };
  std::vector<DistinctLabel> distinctLabels_;
  // Read's working space, kept from call to call for the same reason; a reader serves one thread.
  mutable std::vector<std::wstring_view> lines_;
  mutable std::vector<unsigned> starts_;
  mutable std::vector<std::uint32_t> reached_;
  mutable std::vector<unsigned char> ways_;
};
