// The user's and the administrator's word about a program start the machine refused (see
// start_rules.h): one log line and one warning box (held until the application has been started
// or cannot be), naming the program, the error and what the administrator can allow.
#pragma once

#include <windows.h>

// Reports the start of program as refused and returns true when code says it was; returns false
// (and reports nothing) for any other failure.
bool ReportRefusedStart(DWORD code, const wchar_t* program);
