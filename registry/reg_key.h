#pragma once

#include <windows.h>

#include "text/time_text.h"

// One registry key opened for reading. The object is used whether or not the open succeeded: every query
// on a null handle fails in its own way (a count of -1, false) and leaves the caller's buffer untouched,
// so a caller that clears its buffer first gets an empty string from any failed query.
//
// The holder closes the handle explicitly with Close() and then destroys the object; destruction alone
// does not close it. Copying is forbidden so that one handle can never be closed twice.
class RegKey {
 public:
  // Opens `subkeyPath` (relative to `parent`, may be empty: then a second handle to `parent` itself)
  // for KEY_READ. A failed open, including one under a null parent, leaves the handle null.
  RegKey(HKEY parent, const wchar_t* subkeyPath);
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Closes the handle (a null one too; the platform then reports an error that nobody needs).
  LONG Close();
  HKEY Handle() const { return key_; }

  // The number of direct subkeys, or -1 when the query fails.
  int SubkeyCount() const;

  // Writes the terminated name of the subkey at `index` into `name` (capacity in units, terminator
  // included). False, with `name` untouched, past the last subkey or on a null handle.
  bool EnumSubkey(wchar_t* name, DWORD capacity, DWORD index) const;

  // Finds the value whose name equals `valueName` exactly (letter case included) and copies its data,
  // of whatever type, as UTF-16 text up to its first null unit into `text` (capacity in units). Values
  // with names over 511 units or data over kMaxValueDataBytes are never found. Data without a null unit
  // are terminated here, never read past what the platform returned nor copied past `capacity`.
  bool FindStringValue(wchar_t* text, DWORD capacity, const wchar_t* valueName) const;

  // Writes the key's last-write time, in the local time zone, as time text (kTimeTextFormat) into `text`,
  // which holds at least kTimeTextCapacity units, and, when `written` is given, the time itself as read
  // (UTC, FILETIME's 100 ns units since 1601), which orders times where local texts cannot (a change back
  // from summer time repeats an hour). False, with `text` and `written` untouched, when the time cannot be
  // read or either conversion to local time fails.
  bool LastWriteText(wchar_t* text, ULONGLONG* written = nullptr) const;

  // The key's last-write time as the registry keeps it (UTC, FILETIME's units). False, with `written`
  // untouched, when it cannot be read.
  bool LastWriteTime(ULONGLONG* written) const;

  // The most data that FindStringValue takes from a value.
  static constexpr DWORD kMaxValueDataBytes = 512;
  // The longest text that any query writes, its terminator aside: a value's data that hold no null unit.
  // Every reader of these texts is sized from it.
  static constexpr DWORD kMaxTextUnits = kMaxValueDataBytes / sizeof(wchar_t);

 private:
  HKEY key_;
};

// Writes `written` (UTC, FILETIME's units) as LastWriteText does, into `text` (at least
// kTimeTextCapacity units). False, with `text` untouched, when the time has no local time text: it is
// past what the platform converts, or the conversion fails.
bool FormatTimeText(ULONGLONG written, wchar_t* text);

// Owns one RegKey on the heap for the length of a scope: closes and frees it when the scope ends or when
// Reset() is called, whichever comes first. Empty when the object itself could not be allocated.
class OpenedKey {
 public:
  OpenedKey(HKEY parent, const wchar_t* subkeyPath);
  ~OpenedKey() { Reset(); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  explicit operator bool() const { return key_ != nullptr; }
  RegKey* operator->() const { return key_; }
  RegKey& operator*() const { return *key_; }
  void Reset();

 private:
  RegKey* key_;
};
