#pragma once

#include <windows.h>

#include <string>

// The all-users desktop folder, where a run writes its report file.
std::wstring DesktopFolder();

// Everything the file at `path` holds; a test failure when it cannot be opened.
std::string ReadBytes(const std::wstring& path);

// `text` converted to `codePage` into a buffer of the size the converter asks for, without the terminator.
std::string Converted(const wchar_t* text, UINT codePage);
