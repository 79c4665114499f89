// The platform's end of formatted output: where the formatter's wide text
// goes. One implementation per platform.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <cstddef>

#include "services.h"

// Units the formatter gathers before it hands them on; a surrogate pair
// may straddle two hand-overs.
#define CONSOLE_CHUNK 512

// Writes length units of text to standard output, in order. final is false
// while the same formatted text goes on in the next call, so that a high
// surrogate at the end of text may still find its pair; when final is set
// nothing is held back.
void ConsoleWrite(const WCHAR *text, size_t length, bool final);

// Brings everything written so far out to standard output.
void ConsoleFlushOutput(void);

#endif
