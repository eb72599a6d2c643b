#include "merge/report_files.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <new>

#include "text/ascii.h"

namespace {

// A directory search handle, closed when the object ends.
class FindHandle {
 public:
  FindHandle(const std::wstring& pattern, WIN32_FIND_DATAW& found)
      : handle_(FindFirstFileW(pattern.c_str(), &found)) {}
  ~FindHandle() {
    if (IsOpen()) {
      FindClose(handle_);
    }
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAW& found) const { return FindNextFileW(handle_, &found) != FALSE; }

 private:
  HANDLE handle_;
};

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const wchar_t* name) {
  const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
  return separated ? folder + name : folder + L'\\' + name;
}

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension) {
  const std::size_t separator = path.find_last_of(L"\\/:");
  const std::size_t nameBegin = separator == std::wstring::npos ? 0 : separator + 1;
  // Windows drops a name's trailing blanks and dots: "merged.csv " and "merged.CSV." name merged.csv.
  std::size_t nameEnd = path.size();
  while (nameEnd > nameBegin && (path[nameEnd - 1] == L' ' || path[nameEnd - 1] == L'.')) {
    --nameEnd;
  }
  const std::wstring stored = path.substr(0, nameEnd > nameBegin ? nameEnd : path.size());
  const std::size_t dot = stored.find_last_of(L'.');
  const bool hasExtension = dot != std::wstring::npos && dot >= nameBegin;
  return stored.substr(0, hasExtension ? dot : stored.size()) + extension;
}

PathKind KindOfPath(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::kMissing;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

void FindFiles(const std::wstring& folder, const std::function<bool(const std::wstring&)>& wanted,
               std::vector<std::wstring>& files, std::vector<std::wstring>& unlisted) {
  WIN32_FIND_DATAW found = {};
  const FindHandle search(JoinPath(folder, L"*"), found);
  if (!search.IsOpen()) {
    unlisted.push_back(folder);
    return;
  }
  std::vector<std::wstring> subfolders;
  do {
    const std::wstring name = found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (name != L"." && name != L".." && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        subfolders.push_back(JoinPath(folder, name.c_str()));
      }
    } else if (wanted(name)) {
      files.push_back(JoinPath(folder, name.c_str()));
    }
  } while (search.Next(found));
  for (const std::wstring& subfolder : subfolders) {
    FindFiles(subfolder, wanted, files, unlisted);
  }
}

std::wstring FullPathKey(const std::wstring& path) {
  wchar_t full[4096] = {};
  const DWORD units = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
  std::wstring key = units > 0 && units < std::size(full) ? std::wstring(full, units) : path;
  for (wchar_t& unit : key) {
    unit = AsciiUpperCase(unit);
  }
  return key;
}

FileIdentity::FileIdentity(const std::wstring& path) : fullPath_(FullPathKey(path)) {
  // No access asked and every sharing allowed: the file is only looked at, even while others use it.
  const FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  exists_ = file.IsOpen() && GetFileInformationByHandle(file.Get(), &information);
  if (exists_) {
    volume_ = information.dwVolumeSerialNumber;
    indexHigh_ = information.nFileIndexHigh;
    indexLow_ = information.nFileIndexLow;
  }
}

bool FileIdentity::SameFileAs(const FileIdentity& other) const {
  if (exists_ && other.exists_) {
    return volume_ == other.volume_ && indexHigh_ == other.indexHigh_ && indexLow_ == other.indexLow_;
  }
  return fullPath_ == other.fullPath_;
}

FilesReadAhead::FilesReadAhead(const std::vector<const std::wstring*>& paths, std::size_t maxBytes)
    : paths_(paths), maxBytes_(maxBytes) {
  batchFree_ = CreateSemaphoreW(nullptr, 2, 2, nullptr);
  batchFilled_ = CreateSemaphoreW(nullptr, 0, 2, nullptr);
  if (batchFree_ && batchFilled_) {
    thread_ = CreateThread(nullptr, 0, ReadThread, this, 0, nullptr);
  }
}

FilesReadAhead::~FilesReadAhead() {
  if (thread_) {
    stopping_ = true;
    ReleaseSemaphore(batchFree_, 1, nullptr);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  for (const HANDLE semaphore : {batchFree_, batchFilled_}) {
    if (semaphore) {
      CloseHandle(semaphore);
    }
  }
  for (Batch& batch : batches_) {
    std::free(batch.room);
  }
}

DWORD WINAPI FilesReadAhead::ReadThread(void* ahead) {
  FilesReadAhead& self = *static_cast<FilesReadAhead*>(ahead);
  for (std::size_t filling = 0; self.nextToRead_ < self.paths_.size(); filling ^= 1) {
    WaitForSingleObject(self.batchFree_, INFINITE);
    if (self.stopping_) {
      break;
    }
    self.Fill(self.batches_[filling]);
    ReleaseSemaphore(self.batchFilled_, 1, nullptr);
  }
  return 0;
}

ReadOutcome FilesReadAhead::Next(std::string_view& bytes) {
  bytes = std::string_view();
  if (nextToTake_ == paths_.size()) {
    return ReadOutcome::kUnreadable;
  }
  ++nextToTake_;
  if (!taken_ || takenInBatch_ == batches_[taking_].files) {
    if (taken_) {
      taking_ ^= 1;
    }
    if (thread_) {
      if (taken_) {
        ReleaseSemaphore(batchFree_, 1, nullptr);
      }
      WaitForSingleObject(batchFilled_, INFINITE);
    } else {
      Fill(batches_[taking_]);
    }
    taken_ = true;
    takenInBatch_ = 0;
  }
  const Batch& batch = batches_[taking_];
  const std::size_t file = takenInBatch_++;
  const std::size_t begin = file == 0 ? 0 : batch.ends[file - 1];
  if (batch.outOfRoom && takenInBatch_ == batch.files) {
    throw std::bad_alloc();
  }
  bytes = std::string_view(batch.room + begin, batch.ends[file] - begin);
  return batch.outcomes[file];
}

void FilesReadAhead::Fill(Batch& batch) {
  batch.files = 0;
  batch.outOfRoom = false;
  std::size_t used = 0;
  while (nextToRead_ < paths_.size() && batch.files < Batch::kMaxFiles && used < Batch::kFullBytes &&
         !batch.outOfRoom && !stopping_) {
    batch.outcomes[batch.files] = ReadInto(*paths_[nextToRead_++], batch, used);
    batch.ends[batch.files++] = used;
  }
}

ReadOutcome FilesReadAhead::ReadInto(const std::wstring& path, Batch& batch, std::size_t& end) const {
  const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size = {};
  if (!file.IsOpen() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) {
    return ReadOutcome::kUnreadable;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > maxBytes_) {
    return ReadOutcome::kTooLarge;
  }
  const std::size_t bytes = static_cast<std::size_t>(size.QuadPart);
  if (bytes > batch.roomBytes - end) {
    const std::size_t roomBytes = std::max(end + bytes, 2 * batch.roomBytes);
    char* const room = static_cast<char*>(std::realloc(batch.room, roomBytes));
    if (!room) {
      batch.outOfRoom = true;
      return ReadOutcome::kUnreadable;
    }
    batch.room = room;
    batch.roomBytes = roomBytes;
  }
  for (std::size_t done = 0; done < bytes;) {
    DWORD read = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(bytes - done, MAXDWORD));
    if (!ReadFile(file.Get(), batch.room + end + done, asked, &read, nullptr) || read == 0) {
      return ReadOutcome::kUnreadable;
    }
    done += read;
  }
  end += bytes;
  return ReadOutcome::kRead;
}

bool FileHandle::Close() {
  const bool closed = IsOpen() && CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  return closed;
}

WholeFileWriter::WholeFileWriter(const std::wstring& path)
    : path_(path),
      partialPath_(path + kPartialSuffix),
      file_(CreateFileW(partialPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr)),
      failed_(!file_.IsOpen()),
      committed_(false) {}

WholeFileWriter::~WholeFileWriter() {
  StopFlushing();
  if (!committed_) {
    const bool created = file_.IsOpen();
    file_.Close();
    if (created) {
      DeleteFileW(partialPath_.c_str());
    }
  }
}

bool WholeFileWriter::Write(std::string_view bytes) {
  // Enough for the disk to write at once, few enough that the last one, which Commit() waits for, is short.
  static constexpr std::size_t kFlushBytes = 16 << 20;
  std::size_t done = 0;
  while (!failed_ && done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(bytes.size() - done < 0x100000 ? bytes.size() - done : 0x100000);
    failed_ = !WriteFile(file_.Get(), bytes.data() + done, chunk, &written, nullptr) || written != chunk;
    done += written;
  }
  unflushedBytes_ += done;
  if (!failed_ && unflushedBytes_ >= kFlushBytes) {
    unflushedBytes_ = 0;
    FlushInBackground();
  }
  return !failed_;
}

DWORD WINAPI WholeFileWriter::FlushThread(void* writer) {
  WholeFileWriter& self = *static_cast<WholeFileWriter*>(writer);
  for (;;) {
    WaitForSingleObject(self.flushWanted_, INFINITE);
    if (self.stopFlushing_) {
      return 0;
    }
    // Only a head start: whether the file reached the disk is Commit()'s flush to tell.
    FlushFileBuffers(self.file_.Get());
  }
}

void WholeFileWriter::FlushInBackground() {
  if (!flushWanted_) {
    flushWanted_ = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    flusher_ = flushWanted_ ? CreateThread(nullptr, 0, FlushThread, this, 0, nullptr) : nullptr;
  }
  if (flusher_) {
    // Fails, harmlessly, while a flush asked for before has not begun.
    ReleaseSemaphore(flushWanted_, 1, nullptr);
  }
}

void WholeFileWriter::StopFlushing() {
  if (flusher_) {
    stopFlushing_ = true;
    ReleaseSemaphore(flushWanted_, 1, nullptr);
    WaitForSingleObject(flusher_, INFINITE);
    CloseHandle(flusher_);
    flusher_ = nullptr;
  }
  if (flushWanted_) {
    CloseHandle(flushWanted_);
    flushWanted_ = nullptr;
  }
}

bool WholeFileWriter::Commit() {
  StopFlushing();
  if (failed_ || !FlushFileBuffers(file_.Get()) || !file_.Close()) {
    failed_ = true;
    return false;
  }
  committed_ =
      MoveFileExW(partialPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!committed_) {
    DeleteFileW(partialPath_.c_str());
    failed_ = true;
  }
  return committed_;
}
