// The one buffer between the formatter and standard output: wide units in,
// large writes out, as UTF-8 (up to 64 KiB a write) or, to a console, as
// wide units (up to 4,096). A character is never parted between two writes;
// a surrogate without its partner in one text goes out as U+FFFD, and so
// it does in a name for a cell, which is cleaned here, on its way out.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <cstddef>

#include "winapi.h"

// Adds length units of one text; a high surrogate at the end waits for the
// next call's first unit. 0, or the system's code of a failed write.
DWORD OutputText(const WCHAR *text, size_t length);

// Ends the text: a high surrogate still waiting has no partner. 0 or a code.
DWORD OutputEndText(void);

// Adds one name for a cell of the table, an image, domain or account name,
// which may hold anything its owner chose and must not add a column or a
// row, overwrite the row on a console, reach the terminal as a control
// sequence or reorder the row on the screen: the C0 and C1 controls
// (U+0000..U+001F, U+007F..U+009F), the line and paragraph separators
// (U+2028, U+2029) and the bidirectional controls (U+061C, U+200E, U+200F,
// U+202A..U+202E, U+2066..U+2069) go out as '?'. Its surrogates pair only
// among themselves: a half without its partner in the name is U+FFFD. The
// name is only read. 0 or a code.
DWORD OutputName(const WCHAR *name, size_t length);

// Writes out what is buffered. 0 or a code.
DWORD OutputFlush(void);

#endif
