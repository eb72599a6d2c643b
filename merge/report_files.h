#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// `name` in `folder`, with one separator between them (none added after a folder that ends in one, such
// as a drive's root).
std::wstring JoinPath(const std::wstring& folder, const wchar_t* name);

// `path` with the extension of its file name (what follows its last '.', if any, never a folder's) replaced
// by `extension` (".html"), or with `extension` added when it has none; the name as Windows stores it, its
// trailing blanks and dots dropped.
std::wstring WithExtension(const std::wstring& path, const wchar_t* extension);

// What a command-line path names.
enum class PathKind { kMissing, kFile, kFolder };
PathKind KindOfPath(const std::wstring& path);

// Adds to `files` the path of every file below `folder`, subfolders included, whose name `wanted` takes.
// Links to folders (junctions, symbolic links) are not followed, so no walk can run in a circle. A
// folder that cannot be listed is added to `unlisted`.
void FindFiles(const std::wstring& folder, const std::function<bool(const std::wstring&)>& wanted,
               std::vector<std::wstring>& files, std::vector<std::wstring>& unlisted);

// The full path as Windows resolves it (GetFullPathNameW: `.\` and `..` taken out, trailing blanks and
// dots dropped), in ASCII upper case: two spellings of one path give the same key. The path as given
// when it cannot be resolved.
std::wstring FullPathKey(const std::wstring& path);

// Which file a path names, as Windows tells files apart: where the file exists, by its volume's serial
// number and its file index, which sees through letter case, `.\`, short 8.3 names, trailing blanks and
// dots and hard links; where it does not (an output not written yet), by FullPathKey.
class FileIdentity {
 public:
  explicit FileIdentity(const std::wstring& path);

  bool Exists() const { return exists_; }
  bool SameFileAs(const FileIdentity& other) const;
  const std::wstring& FullPath() const { return fullPath_; }

 private:
  bool exists_ = false;
  DWORD volume_ = 0, indexHigh_ = 0, indexLow_ = 0;
  std::wstring fullPath_;
};

// What reading a whole file gave: kTooLarge, reading nothing, when it holds more than the most asked for;
// kUnreadable when it cannot be opened or read to its end.
enum class ReadOutcome { kRead, kUnreadable, kTooLarge };

// Reads files whole, in the order given, on a thread of its own that keeps up to two batches of files ahead
// of the one taken: the file system's waits (opening and closing a file cost a round trip each under Wine)
// overlap the work on the files taken before. Each file comes out with the outcome that reading it alone
// would give. The thread throws nothing: its room comes from malloc(), and a file that finds no room is
// the taker's to throw for. Where no thread can be made, the taker reads the files itself.
class FilesReadAhead {
 public:
  // `paths` must stay as they are for the object's life.
  FilesReadAhead(const std::vector<const std::wstring*>& paths, std::size_t maxBytes);
  ~FilesReadAhead();
  FilesReadAhead(const FilesReadAhead&) = delete;
  FilesReadAhead& operator=(const FilesReadAhead&) = delete;

  // The next file's outcome and, when read, its bytes, which stay valid until the next call. Called once
  // for each path, in order. Throws std::bad_alloc when there was no room for the file.
  ReadOutcome Next(std::string_view& bytes);

 private:
  // A few files read one after the other into one block of room.
  struct Batch {
    static constexpr std::size_t kMaxFiles = 64;
    static constexpr std::size_t kFullBytes = 1 << 20;
    char* room = nullptr;
    std::size_t roomBytes = 0;
    std::size_t files = 0;
    bool outOfRoom = false;  // the last file found no room, and ends the batch
    ReadOutcome outcomes[kMaxFiles] = {};
    std::size_t ends[kMaxFiles] = {};  // where each file's bytes end in `room`
  };

  static DWORD WINAPI ReadThread(void* ahead);
  // Fills `batch` with the files from `nextToRead_` on, until it is full or the paths end.
  void Fill(Batch& batch);
  // Reads the file at `end` in the batch's room, moving `end` past it when it is read.
  ReadOutcome ReadInto(const std::wstring& path, Batch& batch, std::size_t& end) const;

  const std::vector<const std::wstring*>& paths_;
  const std::size_t maxBytes_;
  Batch batches_[2];
  std::size_t nextToRead_ = 0;  // the thread's alone once it runs
  std::size_t taking_ = 0, takenInBatch_ = 0, nextToTake_ = 0;
  bool taken_ = false;  // whether batches_[taking_] was handed over and is being taken from
  std::atomic<bool> stopping_{false};
  HANDLE batchFree_ = nullptr, batchFilled_ = nullptr, thread_ = nullptr;
};

// An open file handle, closed when the object ends; it cannot be copied, so it is closed once.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (IsOpen()) {
      CloseHandle(handle_);
    }
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }
  // Closes it now; true when it was open and closed cleanly.
  bool Close();

 private:
  HANDLE handle_;
};

// What WholeFileWriter adds to a file's name while it writes it.
constexpr wchar_t kPartialSuffix[] = L".partial";

// A file that appears whole or not at all: written as "<path>.partial" beside its final name, then
// flushed and renamed over it by Commit(). Until then a file of the final name stays as it was; without a
// successful Commit() the partial file is removed. While a large file is written, what was written is
// flushed to the disk on a thread of its own every few megabytes, so that the disk writes it while the
// caller makes the rest, and Commit()'s flush, which waits for the disk, finds little left.
class WholeFileWriter {
 public:
  explicit WholeFileWriter(const std::wstring& path);
  ~WholeFileWriter();
  WholeFileWriter(const WholeFileWriter&) = delete;
  WholeFileWriter& operator=(const WholeFileWriter&) = delete;

  // False once any write has failed (or the file could not be created); later writes then do nothing.
  bool Write(std::string_view bytes);
  bool Commit();

 private:
  static DWORD WINAPI FlushThread(void* writer);
  // Has the thread flush what was written, starting the thread the first time.
  void FlushInBackground();
  void StopFlushing();

  std::wstring path_;
  std::wstring partialPath_;
  FileHandle file_;
  bool failed_;
  bool committed_;
  std::size_t unflushedBytes_ = 0;  // written since the thread was last asked to flush
  std::atomic<bool> stopFlushing_{false};
  HANDLE flushWanted_ = nullptr;  // released for each flush asked for, and once to stop
  HANDLE flusher_ = nullptr;
};
