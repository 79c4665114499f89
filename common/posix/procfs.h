// Pure functions over what a Linux process directory offers, as (buffer,
// length): no reads, no allocation, never a byte past the length.
#ifndef PROCFS_H
#define PROCFS_H

#include <cstddef>
#include <cstdint>

#include "winapi_posix.h"

// Whether link ends with " (deleted)", with something before it: the mark
// the kernel puts after the target of /proc/PID/exe once the image's file
// has been removed. A file may also be named so.
bool HasDeletedMark(const char *link, size_t length);

// The image name in the target of /proc/PID/exe: its last path component,
// without the mark when dropMark is true and the mark is there (the caller
// knows whether the file is really gone). Fails when nothing is left.
bool ImageNameFromLink(const char *link, size_t length, bool dropMark, const char **name,
                       size_t *nameLength);

// Converts a UTF-8 name to wide text fit for one table cell: invalid bytes
// become U+FFFD; control characters (U+0000..U+001F, U+007F..U+009F), the
// line and paragraph separators (U+2028, U+2029) and the bidirectional
// controls (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) '?'.
// Writes at most capacity - 1 units and a terminator (capacity > 0);
// returns the units written before the terminator.
size_t SanitizeName(const char *src, size_t length, WCHAR *dest, size_t capacity);

// Units SanitizeName needs for src, terminator included: never more than
// length + 1, since no byte becomes more than one unit.
inline size_t SanitizedCapacity(size_t length)
{
	return length + 1;
}

#endif
