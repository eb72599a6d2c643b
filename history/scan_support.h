#pragma once

#include <cstddef>
#include <memory>

#include "history/device_history.h"
#include "registry/device_properties.h"
#include "registry/reg_key.h"

// What the registry scans share: the per-item scratch buffer, the copying of record strings, and the
// filling of a device record from its device-type key.

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
