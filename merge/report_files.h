#pragma once

#include <windows.h>

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

// Reads the whole file into `bytes`, whose capacity is reused from file to file: kTooLarge, reading nothing,
// when it holds more than `maxBytes`; kUnreadable when it cannot be opened or read to its end.
enum class ReadOutcome { kRead, kUnreadable, kTooLarge };
ReadOutcome ReadWholeFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes);

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
// successful Commit() the partial file is removed.
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
  std::wstring path_;
  std::wstring partialPath_;
  FileHandle file_;
  bool failed_;
  bool committed_;
};
