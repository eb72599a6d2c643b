#include "merge/writing/zip_writer.h"

#include <algorithm>

namespace {

// Fast deflate: the workbook's parts are repetitive XML, which the fastest level already shrinks several
// times over, and a merge of many reports spends its time on reading them, not on compressing.
constexpr int kCompressionLevel = Z_BEST_SPEED;
// Bytes gathered into a piece before it is deflated, and deflate's window, the most of the bytes before a
// piece that can serve it as a dictionary.
constexpr std::size_t kPendingBytes = 1 << 18;
constexpr std::size_t kWindowBytes = std::size_t{1} << MAX_WBITS;

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint16_t kVersion = 20;  // 2.0: deflate
// Bits 1 and 2 of the general-purpose flags: how hard deflate tried, as the format names its levels
// (normal 00, maximum 01, fast 10, super fast 11, bit 2 first).
constexpr std::uint16_t LevelFlags(int level) {
  return level == 1 ? 0x0006 : level == 2 ? 0x0004 : level >= 8 ? 0x0002 : 0x0000;
}
// Bit 3: the CRC and sizes follow the data, in a data descriptor.
constexpr std::uint16_t kFlags = 0x0008 | LevelFlags(kCompressionLevel);
constexpr std::uint16_t kDeflated = 8;
// MS-DOS time and date of every entry: 00:00:00 on 1980-01-01.
constexpr std::uint16_t kTime = 0;
constexpr std::uint16_t kDate = (0 << 9) | (1 << 5) | 1;
constexpr std::uint64_t kLargest = 0xFFFFFFFFu;
constexpr std::size_t kMaxEntries = 0xFFFF;

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint64_t value) {
  Put16(out, static_cast<std::uint32_t>(value & 0xFFFF));
  Put16(out, static_cast<std::uint32_t>((value >> 16) & 0xFFFF));
}

}  // namespace

ZipWriter::ZipWriter(const std::wstring& path)
    : file_(path), inEntry_(false), failed_(false), written_(0), nextDeflater_(0) {
  for (PieceDeflater& deflater : deflaters_) {
    deflater.streamReady = deflateInit2(&deflater.stream, kCompressionLevel, Z_DEFLATED, -MAX_WBITS, 8,
                                        Z_DEFAULT_STRATEGY) == Z_OK;
    failed_ = failed_ || !deflater.streamReady;
    deflater.ready = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    deflater.finished = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    if (deflater.ready && deflater.finished) {
      deflater.thread = CreateThread(nullptr, 0, PieceDeflater::Thread, &deflater, 0, nullptr);
    }
  }
}

ZipWriter::~ZipWriter() {
  for (PieceDeflater& deflater : deflaters_) {
    if (deflater.thread) {
      if (deflater.handed) {
        WaitForSingleObject(deflater.finished, INFINITE);
      }
      deflater.stopping = true;
      ReleaseSemaphore(deflater.ready, 1, nullptr);
      WaitForSingleObject(deflater.thread, INFINITE);
      CloseHandle(deflater.thread);
    }
    for (const HANDLE semaphore : {deflater.ready, deflater.finished}) {
      if (semaphore) {
        CloseHandle(semaphore);
      }
    }
    if (deflater.streamReady) {
      deflateEnd(&deflater.stream);
    }
  }
}

DWORD WINAPI ZipWriter::PieceDeflater::Thread(void* deflater) {
  PieceDeflater& self = *static_cast<PieceDeflater*>(deflater);
  for (;;) {
    WaitForSingleObject(self.ready, INFINITE);
    if (self.stopping) {
      return 0;
    }
    self.Deflate();
    ReleaseSemaphore(self.finished, 1, nullptr);
  }
}

void ZipWriter::PieceDeflater::Deflate() {
  // crc32() and deflate() take at most a uInt of bytes a call; the pieces are far smaller.
  crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size())));
  failed =
      deflateReset(&stream) != Z_OK ||
      (!dictionary.empty() && deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                                                   static_cast<uInt>(dictionary.size())) != Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(piece.empty() ? nullptr : &piece[0]);
  stream.avail_in = static_cast<uInt>(piece.size());
  stream.next_out = reinterpret_cast<Bytef*>(&deflated[0]);
  stream.avail_out = static_cast<uInt>(deflated.size());
  const int result = failed ? Z_STREAM_ERROR : deflate(&stream, flush);
  // The room holds all that the piece can deflate to, so one call deflates it whole, with room to spare.
  failed = failed || stream.avail_in > 0 || stream.avail_out == 0 ||
           (flush == Z_FINISH ? result != Z_STREAM_END : result != Z_OK);
  deflatedBytes = deflated.size() - stream.avail_out;
}

bool ZipWriter::Hand(int flush) {
  PieceDeflater& deflater = deflaters_[nextDeflater_];
  if (!Collect(deflater)) {
    return false;
  }
  nextDeflater_ ^= 1;
  deflater.dictionary.swap(pendingDictionary_);
  const std::size_t kept = std::min(pending_.size() + deflater.dictionary.size(), kWindowBytes);
  const std::size_t keptOfPending = std::min(pending_.size(), kept);
  pendingDictionary_.assign(deflater.dictionary, deflater.dictionary.size() - (kept - keptOfPending),
                            kept - keptOfPending);
  pendingDictionary_.append(pending_, pending_.size() - keptOfPending, keptOfPending);
  deflater.piece.swap(pending_);
  pending_.clear();
  deflater.flush = flush;
  // deflateBound() is for a stream finished in one call; a sync flush ends with an empty stored block
  // instead, a few bytes more.
  deflater.deflated.resize(deflateBound(&deflater.stream, static_cast<uLong>(deflater.piece.size())) + 16);
  entries_.back().size += deflater.piece.size();
  deflater.handed = true;
  if (deflater.thread) {
    ReleaseSemaphore(deflater.ready, 1, nullptr);
  } else {
    deflater.Deflate();
  }
  return true;
}

bool ZipWriter::Collect(PieceDeflater& deflater) {
  if (!deflater.handed || failed_) {
    return !failed_;
  }
  if (deflater.thread) {
    WaitForSingleObject(deflater.finished, INFINITE);
  }
  deflater.handed = false;
  if (deflater.failed) {
    failed_ = true;
    return false;
  }
  Entry& entry = entries_.back();
  entry.crc = static_cast<std::uint32_t>(
      crc32_combine(entry.crc, deflater.crc, static_cast<z_off_t>(deflater.piece.size())));
  entry.compressedSize += deflater.deflatedBytes;
  return Write(std::string_view(deflater.deflated).substr(0, deflater.deflatedBytes));
}

bool ZipWriter::BeginEntry(const std::string& name) {
  if ((inEntry_ && !EndEntry()) || failed_ || entries_.size() == kMaxEntries) {
    failed_ = true;
    return false;
  }
  Entry entry;
  entry.name = name;
  entry.offset = written_;
  entry.crc = static_cast<std::uint32_t>(crc32(0, Z_NULL, 0));
  entries_.push_back(entry);
  std::string header;
  Put32(header, kLocalHeaderSignature);
  Put16(header, kVersion);
  Put16(header, kFlags);
  Put16(header, kDeflated);
  Put16(header, kTime);
  Put16(header, kDate);
  Put32(header, 0);  // CRC and sizes: in the data descriptor
  Put32(header, 0);
  Put32(header, 0);
  Put16(header, static_cast<std::uint32_t>(name.size()));
  Put16(header, 0);  // no extra field
  header += name;
  pendingDictionary_.clear();
  failed_ = !Write(header);
  inEntry_ = !failed_;
  return inEntry_;
}

bool ZipWriter::Append(std::string_view bytes) {
  if (failed_ || !inEntry_) {
    failed_ = true;
    return false;
  }
  pending_.append(bytes);
  return pending_.size() < kPendingBytes || Hand(Z_SYNC_FLUSH);
}

bool ZipWriter::EndEntry() {
  inEntry_ = false;
  // The piece handed before the last is collected first: the pieces are written in order.
  if (failed_ || !Hand(Z_FINISH) || !Collect(deflaters_[nextDeflater_]) ||
      !Collect(deflaters_[nextDeflater_ ^ 1])) {
    failed_ = true;
    return false;
  }
  const Entry& entry = entries_.back();
  if (entry.size > kLargest || entry.compressedSize > kLargest) {
    failed_ = true;
    return false;
  }
  std::string descriptor;
  Put32(descriptor, kDataDescriptorSignature);
  Put32(descriptor, entry.crc);
  Put32(descriptor, entry.compressedSize);
  Put32(descriptor, entry.size);
  return Write(descriptor);
}

bool ZipWriter::Commit() {
  if ((inEntry_ && !EndEntry()) || failed_) {
    return false;
  }
  const std::uint64_t directoryOffset = written_;
  std::string directory;
  for (const Entry& entry : entries_) {
    Put32(directory, kCentralHeaderSignature);
    Put16(directory, kVersion);  // made by: MS-DOS attributes, version 2.0
    Put16(directory, kVersion);
    Put16(directory, kFlags);
    Put16(directory, kDeflated);
    Put16(directory, kTime);
    Put16(directory, kDate);
    Put32(directory, entry.crc);
    Put32(directory, entry.compressedSize);
    Put32(directory, entry.size);
    Put16(directory, static_cast<std::uint32_t>(entry.name.size()));
    Put16(directory, 0);  // extra field
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, entry.offset);
    directory += entry.name;
  }
  const std::size_t directorySize = directory.size();
  if (directoryOffset + directorySize > kLargest) {
    failed_ = true;
    return false;
  }
  Put32(directory, kEndSignature);
  Put16(directory, 0);  // this disk
  Put16(directory, 0);  // the directory's disk
  Put16(directory, static_cast<std::uint32_t>(entries_.size()));
  Put16(directory, static_cast<std::uint32_t>(entries_.size()));
  Put32(directory, directorySize);
  Put32(directory, directoryOffset);
  Put16(directory, 0);  // comment
  return Write(directory) && file_.Commit();
}

bool ZipWriter::Write(std::string_view bytes) {
  written_ += bytes.size();
  failed_ = failed_ || !file_.Write(bytes);
  return !failed_;
}
