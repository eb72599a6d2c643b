#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "history/device_history.h"
#include "registry/device_properties.h"
#include "registry/reg_key.h"

// What the registry scans share: the per-item scratch buffer, the copying of record strings, the one way
// they fill and count records, and the filling of a device record from its device-type key. Private to
// history/: what other parts of the program read of a scan is the store (device_history.h).

// The scratch through which a scan passes every registry name, value and time text of one item, and the
// key paths that it builds from them.
constexpr std::size_t kScratchUnits = 1024;
static_assert(kScratchUnits > RegKey::kMaxTextUnits, "the scratch holds any query's text and its terminator");
using Scratch = std::unique_ptr<wchar_t[]>;

// A fresh scratch (new[], nothrow) whose first units, those that any query writes, are zero; null when the
// allocation fails.
Scratch NewScratch();

// Zeroes the scratch's first RegKey::kMaxTextUnits + 1 units, the part that any query result is read from.
void ClearScratch(wchar_t* scratch);

// A record string: a new allocation (new[], nothrow) of length + 2 units holding the first `length`
// units of `text` and a terminator; null when the allocation fails. `text` must hold `length` units.
wchar_t* NewRecordString(const wchar_t* text, std::size_t length);

// The same for the zero-terminated text in a scratch; text without a terminator is cut at the scratch's
// last unit.
wchar_t* NewRecordStringFromScratch(const wchar_t* scratch);

// Free a record's owned strings and null them, leaving the record all-absent.
void FreeStrings(DeviceRecord& record);
void FreeStrings(InterfaceRecord& record);

// The records one scan fills, and how it counts them. The array is reserved once the keys are counted,
// a slot for every key that may give a record, and filled from slot 0 without gaps; the count is the
// number of records stored whole, so the records below it are always the ones in use and every one of them
// is whole. Keys that give no record, or a scan cut short, leave the slots past the count all-absent.
template <typename Record>
class RecordSlots {
 public:
  // Zeroes the count; `records` must be null.
  RecordSlots(Record*& records, std::int32_t& count) : records_(records), count_(count) { count_ = 0; }
  RecordSlots(const RecordSlots&) = delete;
  RecordSlots& operator=(const RecordSlots&) = delete;

  // Allocates `slots` all-absent records (new[], nothrow), at most INT32_MAX. False, with no array, when
  // `slots` is zero or less or the allocation fails.
  bool Reserve(std::int64_t slots) {
    if (slots <= 0) {
      return false;
    }
    capacity_ = slots > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(slots);
    records_ = new (std::nothrow) Record[capacity_];
    return records_ != nullptr;
  }

  // Whether every slot reserved holds a record (always, while none was reserved).
  bool Full() const { return !records_ || count_ >= capacity_; }

  // The slot that the next record is filled into; only while not Full().
  Record& Next() const { return records_[count_]; }

  // Counts the record in Next() as stored whole.
  void Stored() { ++count_; }

 private:
  Record*& records_;
  std::int32_t& count_;
  std::int32_t capacity_ = 0;
};

// Frees a record's strings when the scope ends, unless Complete() was called: a record cut short by a
// failed allocation is left all-absent, never half-filled.
template <typename Record>
class RecordFill {
 public:
  explicit RecordFill(Record& record) : record_(record) {}
  ~RecordFill() {
    if (!complete_) {
      FreeStrings(record_);
    }
  }
  RecordFill(const RecordFill&) = delete;
  RecordFill& operator=(const RecordFill&) = delete;

  void Complete() { complete_ = true; }

 private:
  Record& record_;
  bool complete_ = false;
};

// Runs a scan's body so that the scan never fails. Nothing in a scan is meant to throw (its allocations
// are nothrow, a failed one ends the body); should a library call throw all the same (std::bad_alloc, say),
// the body ends there alike, and the store keeps what was stored. Only C++ exceptions are caught: an access
// violation is none. Keys and scratches are owned by scope, so a body left early releases them.
template <typename Body>
void RunGuarded(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// Where a scan finds device-type keys: the key they are under (Enum\USBSTOR or Enum\SCSI), the
// enumerator's name that begins their instances' IDs ("USBSTOR", "SCSI"), and the reader of those
// instances' dates.
struct DeviceTypeSource {
  const RegKey& parent;
  const wchar_t* enumerator;
  const DevicePropertyReader& properties;
};

// Fills `record` from the device-type key under `source.parent` whose name is in `scratch`: the name,
// "FriendlyName" and "DeviceDesc" of its first instance key (a key without an instance key lends its own
// values), its first use (the earliest of the key's last-write time, each instance key's and each
// instance's dates) and its instances' latest arrival or removal. Values and times that cannot be read
// are empty. False when an allocation fails; the record is then left all-absent, never half-filled. Uses
// `scratch` for the queries.
bool StoreDeviceType(const DeviceTypeSource& source, wchar_t* scratch, DeviceRecord& record);
