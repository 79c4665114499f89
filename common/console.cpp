#include "console.h"

#include <cstdarg>
#include <cstdlib>

#include "format.h"
#include "output.h"
#include "streams.h"

// The line on standard error: the program's name and the system's text,
// which ends with the system's line end; without it the line still ends so,
// as the error line does (report.cpp).
[[noreturn]] static void OutputFailed(DWORD code)
{
	LPWSTR text = NULL;
	WCHAR line[640];

	if (StreamReaderGone(code))
		EndProcessNow(1);
	FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
	               FORMAT_MESSAGE_FROM_SYSTEM,
	               NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&text, 0, NULL);
	FormatBounded(line, sizeof line / sizeof line[0], WIDE("%s: cannot write to standard output: %s"),
	              consoleProgram.name, text != NULL ? text : SYSTEM_TEXT_LINE_END);
	LocalFree(text);
	StreamWriteError(line, (size_t)lstrlenW(line));
	EndProcessNow(1);
}

static void FlushAtExit(void)
{
	DWORD error = OutputFlush();

	if (error != 0)
		OutputFailed(error);
}

static void PrintV(const WCHAR *format, va_list args, bool names)
{
	static bool flushAtExit;
	DWORD error;

	if (!flushAtExit) {
		flushAtExit = true;
		atexit(FlushAtExit);
	}
	error = FormatOutputV(format, args, names);
	if (error != 0)
		OutputFailed(error);
}

void ConsolePrintf(const WCHAR *format, ...)
{
	va_list args;

	va_start(args, format);
	PrintV(format, args, false);
	va_end(args);
}

void ConsolePrintNames(const WCHAR *format, ...)
{
	va_list args;

	va_start(args, format);
	PrintV(format, args, true);
	va_end(args);
}

void ConsoleFlush(void)
{
	DWORD error = OutputFlush();

	if (error != 0)
		OutputFailed(error);
}

void ConsoleWaitForKey(void)
{
	ConsoleFlush();
	StreamWaitForKey();
}
