// Names made fit for one cell of the table, on every system: an image,
// domain or account name may hold anything its owner chose, and must not
// add a column or a row, overwrite the row on a console, reach the
// terminal as a control sequence or reorder the row on the screen.
#ifndef NAMES_H
#define NAMES_H

#include <cstddef>

#include "winapi.h"

// Cleans terminated wide text in place and returns it (NULL stays NULL).
// The C0 and C1 controls (U+0000..U+001F, U+007F..U+009F), the line and
// paragraph separators (U+2028, U+2029) and the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) become '?'; a
// surrogate without its partner becomes U+FFFD. Each unit stays one unit,
// so the length does not change.
WCHAR *CleanName(WCHAR *name);

// Decodes a UTF-8 name into dest and cleans it as CleanName does; bytes
// that are not UTF-8 become U+FFFD. Writes at most capacity - 1 units and
// a terminator (capacity > 0); returns the units written before the
// terminator.
size_t SanitizeName(const char *src, size_t length, WCHAR *dest, size_t capacity);

// Units SanitizeName needs for src, terminator included: never more than
// length + 1, since no byte becomes more than one unit.
inline size_t SanitizedCapacity(size_t length)
{
	return length + 1;
}

#endif
