// Formatted output on Windows. A console gets the wide text itself through
// WriteConsoleW, so that every character shows whatever the console's code
// page. Anything else (a file, a pipe) gets UTF-8 through the C runtime's
// standard output in its default text mode, where a line feed becomes
// CR LF as in every Windows text stream.
#include <cstdio>
#include <cstdlib>

#include "../console.h"
#include "../output.h"
#include "../utf.h"

static HANDLE consoleHandle;
static bool outputChecked;

static bool IsConsole(HANDLE handle)
{
	DWORD mode;

	return GetConsoleMode(handle, &mode) != 0;
}

// Only whole pairs reach the console: an unpaired surrogate becomes
// U+FFFD, as in UTF-8.
static bool WriteToConsole(HANDLE handle, const WCHAR *text, size_t length)
{
	WCHAR units[512];
	size_t at = 0;

	while (at < length) {
		DWORD count = 0, written = 0;

		while (at < length && count + 2 <= sizeof units / sizeof units[0]) {
			unsigned long value;
			size_t used = Utf16Next(text + at, length - at, &value);

			if (used == 2) {
				units[count++] = text[at];
				units[count++] = text[at + 1];
			} else {
				units[count++] = (WCHAR)value;
			}
			at += used;
		}
		for (DWORD done = 0; done < count; done += written)
			if (!WriteConsoleW(handle, units + done, count - done, &written, NULL) ||
			    written == 0)
				return false;
	}
	return true;
}

// The system's code for the C runtime's failed write; _doserrno is
// cleared before each.
static DWORD StreamError(void)
{
	return _doserrno != 0 ? (DWORD)_doserrno : (DWORD)ERROR_WRITE_FAULT;
}

// A reader that has gone ends the program at once and silently, as
// SIGPIPE ends a Unix program; any other failure leaves one line on
// standard error. A pipe whose reader has gone reports ERROR_NO_DATA or
// ERROR_BROKEN_PIPE; a named pipe without its client, and Wine for a Unix
// pipe without its reader, ERROR_PIPE_NOT_CONNECTED.
[[noreturn]] static void Fail(DWORD code)
{
	HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
	WCHAR text[512];
	WCHAR line[640];
	DWORD length;

	if (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE ||
	    code == ERROR_PIPE_NOT_CONNECTED)
		ExitProcess(1);
	length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
	                        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
	                        sizeof text / sizeof text[0], NULL);
	while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
		length--;
	text[length] = 0;
	FormatBounded(line, sizeof line / sizeof line[0], OUTPUT_FAILURE_FORMAT, ProgramName, text);
	if (IsConsole(handle)) {
		WriteToConsole(handle, line, (size_t)lstrlenW(line));
	} else {
		Utf8Write(stderr, line, (size_t)lstrlenW(line));
		fflush(stderr);
	}
	ExitProcess(1);
}

// Decided once: whether standard output is a console.
static void CheckOutput(void)
{
	HANDLE handle;

	if (outputChecked)
		return;
	outputChecked = true;
	handle = GetStdHandle(STD_OUTPUT_HANDLE);
	if (handle == NULL || handle == INVALID_HANDLE_VALUE)
		Fail(ERROR_INVALID_HANDLE);
	if (IsConsole(handle))
		consoleHandle = handle;
}

void ConsoleWrite(const WCHAR *text, size_t length)
{
	CheckOutput();
	if (consoleHandle != NULL) {
		if (!WriteToConsole(consoleHandle, text, length))
			Fail(GetLastError());
		return;
	}
	_doserrno = 0;
	if (!Utf8Write(stdout, text, length))
		Fail(StreamError());
}

void ConsoleFlushOutput(void)
{
	_doserrno = 0;
	if (fflush(stdout) != 0)
		Fail(StreamError());
}
