// The one buffer between the formatter and standard output: wide units in,
// large writes out, as UTF-8 (up to 64 KiB a write) or, to a console, as
// wide units (up to 4,096). A character is never parted between two writes;
// a surrogate without its partner in one text goes out as U+FFFD.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <cstddef>

#include "winapi.h"

// Adds length units of one text; a high surrogate at the end waits for the
// next call's first unit. 0, or the system's code of a failed write.
DWORD OutputText(const WCHAR *text, size_t length);

// Ends the text: a high surrogate still waiting has no partner. 0 or a code.
DWORD OutputEndText(void);

// Writes out what is buffered. 0 or a code.
DWORD OutputFlush(void);

#endif
