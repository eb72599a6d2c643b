#include "merge/writing/zip_writer.h"

namespace {

// Fast deflate: the workbook's parts are repetitive XML, which the fastest level already shrinks several
// times over, and a merge of many reports spends its time on reading them, not on compressing.
constexpr int kCompressionLevel = Z_BEST_SPEED;
// Bytes gathered before they are deflated, and the size of each piece of deflated output written.
constexpr std::size_t kPendingBytes = 1 << 18;
constexpr std::size_t kDeflatedBytes = 1 << 16;

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
    : file_(path),
      stream_(),
      streamReady_(false),
      inEntry_(false),
      failed_(false),
      written_(0),
      handedFlush_(Z_NO_FLUSH),
      handedFailed_(false),
      stopping_(false),
      pieceHanded_(false),
      pieceReady_(nullptr),
      pieceFinished_(nullptr),
      thread_(nullptr) {
  streamReady_ =
      deflateInit2(&stream_, kCompressionLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  failed_ = !streamReady_;
  deflated_.resize(kDeflatedBytes);
  pieceReady_ = CreateSemaphoreW(nullptr, 0, 1, nullptr);
  pieceFinished_ = CreateSemaphoreW(nullptr, 0, 1, nullptr);
  if (pieceReady_ && pieceFinished_) {
    thread_ = CreateThread(nullptr, 0, DeflateThread, this, 0, nullptr);
  }
}

ZipWriter::~ZipWriter() {
  if (thread_) {
    WaitForPiece();
    stopping_ = true;
    ReleaseSemaphore(pieceReady_, 1, nullptr);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  for (const HANDLE semaphore : {pieceReady_, pieceFinished_}) {
    if (semaphore) {
      CloseHandle(semaphore);
    }
  }
  if (streamReady_) {
    deflateEnd(&stream_);
  }
}

DWORD WINAPI ZipWriter::DeflateThread(void* writer) {
  ZipWriter& self = *static_cast<ZipWriter*>(writer);
  for (;;) {
    WaitForSingleObject(self.pieceReady_, INFINITE);
    if (self.stopping_) {
      return 0;
    }
    self.handedFailed_ = !self.DeflateHanded();
    ReleaseSemaphore(self.pieceFinished_, 1, nullptr);
  }
}

bool ZipWriter::Hand(int flush) {
  WaitForPiece();
  if (failed_) {
    return false;
  }
  handed_.swap(pending_);
  pending_.clear();
  handedFlush_ = flush;
  if (!thread_) {
    failed_ = !DeflateHanded();
    return !failed_;
  }
  pieceHanded_ = true;
  ReleaseSemaphore(pieceReady_, 1, nullptr);
  return true;
}

void ZipWriter::WaitForPiece() {
  if (pieceHanded_) {
    WaitForSingleObject(pieceFinished_, INFINITE);
    pieceHanded_ = false;
    failed_ = failed_ || handedFailed_;
  }
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
  failed_ = deflateReset(&stream_) != Z_OK || !Write(header);
  inEntry_ = !failed_;
  return inEntry_;
}

bool ZipWriter::Append(std::string_view bytes) {
  if (failed_ || !inEntry_) {
    failed_ = true;
    return false;
  }
  pending_.append(bytes);
  return pending_.size() < kPendingBytes || Hand(Z_NO_FLUSH);
}

bool ZipWriter::DeflateHanded() {
  Entry& entry = entries_.back();
  // crc32() takes at most a uInt of bytes a call; the pieces are far smaller.
  entry.crc = static_cast<std::uint32_t>(
      crc32(entry.crc, reinterpret_cast<const Bytef*>(handed_.data()), static_cast<uInt>(handed_.size())));
  entry.size += handed_.size();
  stream_.next_in = reinterpret_cast<Bytef*>(handed_.empty() ? nullptr : &handed_[0]);
  stream_.avail_in = static_cast<uInt>(handed_.size());
  int result = Z_OK;
  do {
    stream_.next_out = reinterpret_cast<Bytef*>(&deflated_[0]);
    stream_.avail_out = static_cast<uInt>(deflated_.size());
    result = deflate(&stream_, handedFlush_);
    const std::size_t produced = deflated_.size() - stream_.avail_out;
    entry.compressedSize += produced;
    written_ += produced;
    if (result == Z_STREAM_ERROR || !file_.Write(std::string_view(deflated_).substr(0, produced))) {
      return false;
    }
  } while (stream_.avail_in > 0 || (handedFlush_ == Z_FINISH && result != Z_STREAM_END));
  return true;
}

bool ZipWriter::EndEntry() {
  inEntry_ = false;
  if (failed_ || !Hand(Z_FINISH)) {
    failed_ = true;
    return false;
  }
  WaitForPiece();
  if (failed_) {
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
