#include "report/report_file.h"

ReportFile::ReportFile() : handle(nullptr), path{} {}
ReportFile::~ReportFile() {}
bool ReportFile::Create() { return false; }
bool ReportFile::Write(const wchar_t*, UINT) { return false; }
void ReportFile::Close() {}
bool ReportFile::BuildPath() { return false; }
HANDLE ReportFile::FindShellProcess() { return nullptr; }
void ReportFile::GetShellUserName(wchar_t* name) { name[0] = 0; }
