// The report of a failed platform call, shared by both programs.
#ifndef REPORT_H
#define REPORT_H

#include "winapi.h"

// Prints one line naming the failed operation, the thread's last-error code
// and the system's text for it, in the program's error-line format
// (consoleProgram, console.h); with fatal set the output is brought out and
// the process ends with that code (1 for a code of 0, which would read as
// success). Call it first thing after the failure, before anything can
// change the last-error code. Where the system has no text for the code
// the description is empty and the line still ends with the system's line
// end.
void ReportLastError(const WCHAR *operationName, bool fatal);

// The exit status the failures reported so far call for: 0 while there was
// none, else the first one's code, or 1 for a code of 0, as a fatal report
// ends with.
DWORD ReportedStatus(void);

#endif
