#include "console.h"

#include <cstdarg>
#include <cstdlib>

#include "format.h"
#include "output.h"
#include "streams.h"

// The line on standard error: the program's name, the system's text
// without its line break, and the system's own line end.
[[noreturn]] static void OutputFailed(DWORD code)
{
	LPWSTR text = NULL;
	WCHAR line[640];
	int length;

	if (StreamReaderGone(code))
		StreamEnd(1);
	FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
	               FORMAT_MESSAGE_FROM_SYSTEM,
	               NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPWSTR)&text, 0, NULL);
	// The text is this call's own: its line break is cut where it stands.
	length = lstrlenW(text);
	while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
		text[--length] = 0;
	FormatBounded(line, sizeof line / sizeof line[0], WIDE("%s: cannot write to standard output: %s%s"),
	              consoleProgram.name, text != NULL ? text : WIDE(""), SYSTEM_TEXT_LINE_END);
	LocalFree(text);
	StreamWriteError(line, (size_t)lstrlenW(line));
	StreamEnd(1);
}

static void FlushAtExit(void)
{
	DWORD error = OutputFlush();

	if (error != 0)
		OutputFailed(error);
}

void ConsolePrintf(const WCHAR *format, ...)
{
	static bool flushAtExit;
	DWORD error;
	va_list args;

	if (!flushAtExit) {
		flushAtExit = true;
		atexit(FlushAtExit);
	}
	va_start(args, format);
	error = FormatOutputV(format, args);
	va_end(args);
	if (error != 0)
		OutputFailed(error);
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
