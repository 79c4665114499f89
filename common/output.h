// The platform's end of formatted output: where the formatter's wide text
// goes. One implementation per platform.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <cstddef>

#include "winapi.h"

// Units the formatter gathers before it hands them on.
#define CONSOLE_CHUNK 512

// Writes length units of text to standard output. The formatter never
// parts a surrogate pair between two calls, so a surrogate without its
// partner in text has none and goes out as U+FFFD. A write that fails ends
// the process with status 1, after OUTPUT_FAILURE_FORMAT on standard error
// (a reader that has gone ends it silently, as SIGPIPE does on Unix).
void ConsoleWrite(const WCHAR *text, size_t length);

// Brings everything written so far out to standard output; a failure ends
// the process as in ConsoleWrite.
void ConsoleFlushOutput(void);

// The line on standard error: the program's name and the system's text.
#define OUTPUT_FAILURE_FORMAT WIDE("%s: cannot write to standard output: %s\n")

#endif
