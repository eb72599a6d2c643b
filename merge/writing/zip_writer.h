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
// Deflating takes longer than making the bytes deflated, so two threads of their own share it: an entry's
// bytes are cut into pieces, handed to them in turn, and each piece is checksummed and deflated on its own,
// with the 32 KB before it as its dictionary, ending on a byte boundary (a sync flush), so that the pieces
// laid end to end make one deflate stream, much as one pass would have made it. The caller writes the
// deflated pieces in order while it makes the next ones. Those threads allocate nothing. Where no thread
// can be started, the caller's thread does the same work: the bytes do not depend on the threads.
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

  // One of the threads that deflate pieces, and the piece it was handed. The caller touches a piece's
  // fields only while no thread works on it: between handing it (`ready`) and collecting it (`finished`).
  struct PieceDeflater {
    z_stream stream = {};
    bool streamReady = false;
    std::string dictionary;  // the 32 KB of the entry before the piece; none for its first piece
    std::string piece;
    int flush = Z_NO_FLUSH;  // Z_SYNC_FLUSH, or Z_FINISH for an entry's last piece
    std::string deflated;    // room for all that the piece can deflate to, made by the caller
    std::size_t deflatedBytes = 0;
    std::uint32_t crc = 0;
    bool failed = false;
    bool handed = false;  // holds a piece not yet collected
    bool stopping = false;
    HANDLE ready = nullptr;     // released for each piece handed, and once to stop
    HANDLE finished = nullptr;  // released after each piece
    HANDLE thread = nullptr;

    void Deflate();
    static DWORD WINAPI Thread(void* deflater);
  };

  bool EndEntry();
  // Hands what `pending_` holds to the next deflater, once it has been collected; false when any piece
  // so far has failed.
  bool Hand(int flush);
  // Waits for the deflater's piece, if it holds one, and writes what it deflated to the file.
  bool Collect(PieceDeflater& deflater);
  bool Write(std::string_view bytes);

  WholeFileWriter file_;
  bool inEntry_;
  bool failed_;
  std::uint64_t written_;
  std::vector<Entry> entries_;
  std::string pending_;
  std::string pendingDictionary_;  // the last 32 KB of the entry handed so far
  PieceDeflater deflaters_[2];
  std::size_t nextDeflater_;  // the one handed the next piece, which holds the oldest piece not collected
};
