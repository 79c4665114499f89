// The one buffer between the formatter and standard output. Text comes in
// as wide units and goes out in large writes, as UTF-8 or, to a console,
// as wide units: 64 KiB of UTF-8, or 4,096 units to a console, fewer only
// at a flush. A surrogate pair is never parted
// between two writes; a surrogate without its partner in one text goes out
// as U+FFFD.
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
