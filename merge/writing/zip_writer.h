#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "merge/report_files.h"

// A ZIP file written whole or not at all (through WholeFileWriter), its entries deflated as their bytes
// come, so that no entry stands whole in memory. Each entry's CRC and sizes follow its data in a data
// descriptor, as the format allows for a writer that cannot seek back, and stand again in the central
// directory. Every entry carries the same fixed time (1980-01-01 00:00, the format's first), so the same
// entries give the same bytes. Without the format's 64-bit extension: an entry, or the whole file, that
// would pass 4 GB fails the file instead of corrupting it.
// Deflating takes about as long as making the bytes deflated, so it runs on a thread of its own: a piece
// of an entry's bytes is checksummed, deflated and written there while the caller makes the next one. That
// thread allocates nothing. Where no thread can be started, the caller's thread does the work.
class ZipWriter {
 public:
  explicit ZipWriter(const std::wstring& path);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Starts the next entry, named `name` (ASCII, '/' between folders); ends the one before, if any.
  bool BeginEntry(const std::string& name);
  // Adds bytes to the entry begun last.
  bool Append(std::string_view bytes);
  // Ends the last entry, writes the central directory and renames the file to its final name. False, and
  // no file, when any step has failed.
  bool Commit();

 private:
  struct Entry {
    std::string name;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
  };

  bool EndEntry();
  // Hands what `pending_` holds to the deflating thread, with `flush` as zlib's deflate() takes it, once
  // that thread has finished the piece before; false when any piece so far has failed.
  bool Hand(int flush);
  // Waits until the deflating thread has finished the piece it was handed, if any.
  void WaitForPiece();
  // The deflating thread's work on `handed_`: CRC, sizes, deflated bytes written. False when a write fails.
  bool DeflateHanded();
  static DWORD WINAPI DeflateThread(void* writer);
  bool Write(std::string_view bytes);

  WholeFileWriter file_;
  z_stream stream_;
  bool streamReady_;
  bool inEntry_;
  bool failed_;
  std::uint64_t written_;
  std::vector<Entry> entries_;
  std::string pending_;
  std::string deflated_;
  // Shared with the deflating thread, which touches them, `stream_`, `entries_.back()`, `file_` and
  // `written_` only between a piece handed and WaitForPiece(): the semaphores order every access.
  std::string handed_;
  int handedFlush_;
  bool handedFailed_;
  bool stopping_;
  bool pieceHanded_;
  HANDLE pieceReady_;     // released for each piece handed, and once to stop
  HANDLE pieceFinished_;  // released by the deflating thread after each piece
  HANDLE thread_;
};
