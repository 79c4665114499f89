// The report of a failed platform call, shared by both programs.
#ifndef REPORT_H
#define REPORT_H

#include "winapi.h"

// Prints one line naming the failed operation, the thread's last-error code
// and the system's text for it, in the program's error-line format
// (consoleProgram, console.h). It returns the exit status the failure
// calls for: the code, or 1 for a code of 0, which would read as success;
// with fatal set the output is brought out and the process ends with that
// status at once. Call it first thing after the failure, before anything
// can change the last-error code. Where the system has no text for the
// code the description is empty and the line still ends with the system's
// line end.
DWORD ReportLastError(const WCHAR *operationName, bool fatal);

#endif
