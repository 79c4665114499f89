// The one formatter of console support, for a bounded buffer and for
// standard output. Formats keep the conventions of wide formatted output:
// "%s" takes a wide string (NULL prints "(null)"), "%d" a 32-bit integer
// printed as signed decimal, "%%" a percent sign; whatever else follows a
// percent sign is copied as it stands, the sign included.
#ifndef FORMAT_H
#define FORMAT_H

#include <cstdarg>
#include <cstddef>

#include "winapi.h"

// Formats into dest, never writing past capacity characters. S_OK when the
// whole text fitted; E_INVALIDARG when capacity is 0 or above 0x7FFFFFFF
// (dest then holds an empty text, unless capacity is 0: untouched);
// STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut to capacity - 1
// characters.
HRESULT FormatBounded(WCHAR *dest, size_t capacity, const WCHAR *format, ...);

// Formats into the output buffer (output.h) as one text; with names, each
// "%s" argument goes out as a name for a cell (OutputName). 0, or the
// system's code of the first write that failed; nothing more is formatted
// after it.
DWORD FormatOutputV(const WCHAR *format, va_list args, bool names);

#endif
