// Conversions between UTF-8 and the UTF-16 wide text of the programs.
// None ever fails on bad text: whatever is not valid becomes U+FFFD.
#ifndef UTF_H
#define UTF_H

#include <cstddef>

#include "winapi.h"

// What stands for whatever is not valid text.
const WCHAR replacementCharacter = 0xFFFD;

inline bool IsSurrogate(unsigned long unit)
{
	return unit >= 0xD800 && unit <= 0xDFFF;
}

inline bool IsHighSurrogate(unsigned long unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

inline bool IsLowSurrogate(unsigned long unit)
{
	return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Decodes src into dest, writing at most capacity units and never
// splitting a surrogate pair. Each byte that does not start a valid,
// shortest-form sequence of a scalar value becomes U+FFFD. Returns the
// units written; *consumed, if not null, the bytes decoded.
size_t Utf8ToUtf16(const char *src, size_t length, WCHAR *dest,
                   size_t capacity, size_t *consumed);

// The character at src (length > 0): stores its value, U+FFFD for an
// unpaired surrogate, and returns the units it takes, 1 or 2.
size_t Utf16Next(const WCHAR *src, size_t length, unsigned long *value);

// Encodes src into dest, writing at most capacity bytes and never
// splitting a character. Returns the bytes written; *consumed, if not
// null, the units encoded.
size_t Utf16ToUtf8(const WCHAR *src, size_t length, char *dest,
                   size_t capacity, size_t *consumed);

#endif
