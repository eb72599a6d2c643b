#pragma once

// What a run of either program asks of the process it runs in: where DLLs may come from, and whether
// anyone can see its desktop.

// Takes the exe's folder and the current folder out of the DLL search before anything more is loaded, so
// that a DLL planted beside the exe (in a Downloads folder, on a shared stick) never runs in this process.
// Where Windows has SetDefaultDllDirectories (8 and later; Vista and 7 with KB2533623), every later load
// searches the system folder only; it is looked up at run time, so that XP still starts. On every
// Windows, SetDllDirectoryW(L"") takes the current folder out.
void SearchDllsInTheSystemFolderOnly();

// True unless this process's window station is known to be one that no one can see: the station where
// services, SYSTEM tasks and remote command shells run. There a message box, or a console waiting for a
// key, would wait for an answer that can never come, and whatever started the run would wait with it.
// When the station or its flags cannot be read, the answer is true, so that a run at a desktop never
// loses its box.
bool SomeoneCanSeeTheDesktop();
