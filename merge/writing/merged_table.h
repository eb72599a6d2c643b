#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "merge/reading/report_name.h"
#include "merge/reading/report_reader.h"

// A text kept by a TextPool; 0 is the empty text.
using TextId = std::uint32_t;

// No text of an index.
constexpr TextId kNoText = 0xFFFFFFFF;

// Distinct texts, each with an id in the order added, from 1 (0 is the empty text, which is never looked
// up). The index keeps views: the units of each text are stored elsewhere and must outlive it.
class TextIndex {
 public:
  TextIndex();
  TextIndex(const TextIndex&) = delete;
  TextIndex& operator=(const TextIndex&) = delete;

  // The id of a text that is not empty, or kNoText when it has none yet.
  TextId Find(std::wstring_view text) const;
  // Gives `text`, which is not empty and has no id yet, the next id.
  TextId Add(std::wstring_view text);
  std::wstring_view Text(TextId id) const { return {entries_[id].data, entries_[id].length}; }
  // How many ids there are, the empty text's included.
  std::size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    const wchar_t* data;
    std::uint32_t length;
    std::uint32_t hash;
  };
  // The slot where `text` stands, or the free one where it would go.
  std::size_t SlotOf(std::wstring_view text, std::uint32_t hash) const;
  void Rehash(std::size_t slotCount);

  std::vector<Entry> entries_;  // by TextId
  std::vector<TextId> slots_;   // an open-addressed hash table of the ids, at most half full
};

// Every distinct text once: a large office's reports repeat the same computers, users, device names,
// types and times thousands of times. The texts stand in large blocks that never move, so a text's view
// stays valid while the pool lives, and adding one allocates only now and then.
class TextPool {
 public:
  TextPool() = default;
  TextPool(const TextPool&) = delete;
  TextPool& operator=(const TextPool&) = delete;

  TextId Intern(std::wstring_view text);
  std::wstring_view Text(TextId id) const { return index_.Text(id); }

 private:
  const wchar_t* Store(std::wstring_view text);

  std::vector<std::unique_ptr<wchar_t[]>> blocks_;
  wchar_t* next_ = nullptr;  // where the next text goes in the newest block, with `room_` units left
  std::size_t room_ = 0;
  TextIndex index_;
};

// One record of a merged report: its kind and each of its fields as a text of the pool (times as the table
// gives them, "YYYY-MM-DD hh:mm:ss", or empty).
struct MergedRecord {
  RecordKind kind = RecordKind::kBothViews;
  TextId field[kReportFieldCount] = {};
};

// One report that was read whole: its file (as found) and what its name says, as texts of the pool, and
// where its records stand, in its own order.
struct MergedReport {
  TextId file = 0, computer = 0, user = 0, time = 0, stamp = 0;
  std::uint32_t firstRecord = 0, recordCount = 0;
};

// The reports merged, kept as compactly as the table and the page allow: a report's whole text is not
// kept, only its records, each field a text of one pool shared by all reports.
class MergedReports {
 public:
  MergedReports() = default;
  MergedReports(const MergedReports&) = delete;
  MergedReports& operator=(const MergedReports&) = delete;

  // Adds a report that was read whole.
  void Add(std::wstring_view file, const ReportName& name, const ReportContent& content);
  // Orders the reports by computer, report time and file, so that the same files give the same table
  // whatever order they were found in. With `latestOnly`, keeps only each computer's newest reports (all
  // of them when several share its newest minute).
  void Order(bool latestOnly);

  const std::vector<MergedReport>& Reports() const { return reports_; }
  std::wstring_view Text(TextId id) const { return texts_.Text(id); }
  std::wstring_view Field(const MergedRecord& record, ReportField field) const {
    return texts_.Text(record.field[static_cast<int>(field)]);
  }
  // The records of a report, in its own order.
  struct Records {
    const MergedRecord* first;
    const MergedRecord* last;
    const MergedRecord* begin() const { return first; }
    const MergedRecord* end() const { return last; }
  };
  Records RecordsOf(const MergedReport& report) const {
    const MergedRecord* first = records_.data() + report.firstRecord;
    return {first, first + report.recordCount};
  }

 private:
  TextPool texts_;
  std::vector<MergedReport> reports_;
  std::vector<MergedRecord> records_;
};

// The table: a header row, then one row per record, and one row of its own for a report without records,
// so that its computer is in the table too. A row is its cells in column order, as views valid while the
// reports live. Every writer of the table takes its rows from here.
enum TableColumn {
  kComputerColumn,
  kUserColumn,
  kReportTimeColumn,  // "YYYY-MM-DD hh:mm"
  kKindColumn,
  kDeviceKeyColumn,
  kVendorColumn,
  kProductColumn,
  kRevisionColumn,
  kFriendlyNameColumn,
  kDescriptionColumn,
  kFirstUsedColumn,  // "YYYY-MM-DD hh:mm:ss" or empty, as the last use
  kLastUsedColumn,
  kFileColumn,
  kTableColumnCount
};
using TableRow = std::array<std::wstring_view, kTableColumnCount>;
const TableRow& TableHeader();
// Calls `visit` with each row after the header, in the table's order (the reports as Order left them).
void ForEachTableRow(const MergedReports& merged, const std::function<void(const TableRow&)>& visit);

// Appends a row as CSV (RFC 4180, CR LF after it). A cell that a spreadsheet would take for a formula
// (starting with '=', '+', '-', '@', a tab or a CR) is written after an apostrophe, so that it shows as
// text: device names are chosen by whoever builds the device.
void AppendCsvRow(const TableRow& row, std::wstring& csv);

// The parts of a device key name, "<type>&Ven_<vendor>&Prod_<product>&Rev_<revision>" in any ASCII letter
// case, or "<type>&Ven_<vendor>&Prod_<product>" (a UAS disk's key, with an empty revision); all empty
// unless the vendor and product markers stand exactly once, in that order, and the revision marker at
// most once, after them.
// The parts are views into the name, valid while it lives.
struct DeviceKeyParts {
  std::wstring_view vendor, product, revision;
};
DeviceKeyParts SplitDeviceKeyName(std::wstring_view name);
