// Console support shared by both programs: formatted wide output to
// standard output and the closing wait. Formats are those of format.h.
#ifndef CONSOLE_H
#define CONSOLE_H

#include "winapi.h"

// What each program gives console support, its one hook: its name, which
// starts the line on standard error when standard output cannot be
// written, and the form its error line takes around the composed text
// (one "%s", report.h).
struct ConsoleProgram {
	const WCHAR *name;
	const WCHAR *errorLineFormat;
};
extern const ConsoleProgram consoleProgram;

// Writes formatted text to standard output (output.h): UTF-8, whole,
// whatever the locale, or a console's wide text. When standard output
// cannot be written the process ends with status 1 after one line on
// standard error, "NAME: cannot write to standard output: TEXT"; a reader
// that has gone ends it silently. What is buffered goes out at exit.
void ConsolePrintf(const WCHAR *format, ...);

// As ConsolePrintf, for the names in a row of the table: each "%s"
// argument, an image, domain or account name, goes out fit for one cell
// (OutputName in output.h), read where it lies and never changed.
void ConsolePrintNames(const WCHAR *format, ...);

// Brings out everything ConsolePrintf has buffered, or ends the process as
// ConsolePrintf does.
void ConsoleFlush(void);

// The closing wait: brings the output out, so that it is on the screen
// while the program waits, then waits for one key on a terminal or
// console, or for one byte or the end of any other input (streams.h).
void ConsoleWaitForKey(void);

#endif
