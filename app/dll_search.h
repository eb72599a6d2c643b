#pragma once

// Takes the exe's folder and the current folder out of the DLL search before anything more is loaded, so
// that a DLL planted beside the exe (in a Downloads folder, on a shared stick) never runs in this process.
// Where Windows has SetDefaultDllDirectories (8 and later; Vista and 7 with KB2533623), every later load
// searches the system folder only; it is looked up at run time, so that XP still starts. On every
// Windows, SetDllDirectoryW(L"") takes the current folder out.
void SearchDllsInTheSystemFolderOnly();
