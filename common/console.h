// Console support shared by both programs: formatted wide output, bounded
// formatting into a buffer, and the report of a failed platform call.
//
// Formats keep the conventions of wide formatted output: "%s" takes a wide
// string, "%d" a 32-bit integer printed as signed decimal, "%%" a percent
// sign. One formatter serves both destinations.
#ifndef CONSOLE_H
#define CONSOLE_H

#include <cstdarg>
#include <cstddef>

#include "winapi.h"

// Writes formatted text to standard output. On Unix the text goes out as
// UTF-8, whole, whatever the locale; on Windows a console gets it through
// the console's wide interface. When standard output cannot be written the
// process ends with status 1 (output.h).
void ConsolePrintf(const WCHAR *format, ...);

// Brings out everything ConsolePrintf has buffered, or ends the process as
// ConsolePrintf does.
void ConsoleFlush(void);

// The closing wait: brings the output out, so that it is on the screen
// while the program waits, then reads one byte of standard input (end of
// input ends the wait too).
void ConsoleWaitForKey(void);

// Formats into dest, never writing past capacity characters. S_OK when the
// whole text fitted; E_INVALIDARG when capacity is 0 or above 0x7FFFFFFF;
// STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut to capacity - 1
// characters. length, if not null, receives the length of the result.
HRESULT FormatBounded(WCHAR *dest, size_t capacity, const WCHAR *format, ...);
HRESULT FormatBoundedV(WCHAR *dest, size_t capacity, size_t *length,
                       const WCHAR *format, va_list args);

// Prints one line naming the failed operation, the thread's last-error code
// and the system's text for it, in the program's ErrorLineFormat; with fatal
// set the process then ends with that code. Call it first thing after the
// failure, before anything can change the last-error code.
void ReportLastError(const WCHAR *operationName, bool fatal);

// Each program defines the form its error line takes around the composed
// text: one "%s".
extern const WCHAR ErrorLineFormat[];

// Each program defines its name, which starts the line on standard error
// when standard output cannot be written.
extern const WCHAR ProgramName[];

#endif
