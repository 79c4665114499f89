// Standard streams on Windows. A console gets wide text through
// WriteConsoleW, so that every character shows whatever the console's code
// page; a file or a pipe gets UTF-8 through WriteFile, with CR LF line ends
// as in every Windows text file. The closing wait reads a console's key
// events, which leaves its mode as it is.
#include "../streams.h"
#include "../utf.h"

static HANDLE output;
static bool outputIsConsole;

static bool IsConsole(HANDLE handle)
{
	DWORD mode;

	return GetConsoleMode(handle, &mode) != 0;
}

DWORD StreamOutputKind(OutputKind *kind)
{
	output = GetStdHandle(STD_OUTPUT_HANDLE);
	if (output == NULL || output == INVALID_HANDLE_VALUE)
		return ERROR_INVALID_HANDLE;
	outputIsConsole = IsConsole(output);
	*kind = outputIsConsole ? OutputWide : OutputUtf8CrLf;
	return 0;
}

static DWORD Failed(void)
{
	DWORD code = GetLastError();

	return code != 0 ? code : (DWORD)ERROR_WRITE_FAULT;
}

static DWORD WriteAll(HANDLE handle, bool console, const BYTE *data, size_t size)
{
	while (size > 0) {
		DWORD chunk = size > 0x40000000 ? 0x40000000 : (DWORD)size;
		DWORD written = 0;

		if (console) {
			if (!WriteConsoleW(handle, data, chunk / sizeof(WCHAR), &written, NULL))
				return Failed();
			written *= sizeof(WCHAR);
		} else if (!WriteFile(handle, data, chunk, &written, NULL)) {
			return Failed();
		}
		if (written == 0)
			return ERROR_WRITE_FAULT;
		data += written;
		size -= written;
	}
	return 0;
}

DWORD StreamWrite(const void *data, size_t size)
{
	return WriteAll(output, outputIsConsole, (const BYTE *)data, size);
}

// A pipe whose reader has gone reports ERROR_NO_DATA or ERROR_BROKEN_PIPE;
// a named pipe without its client, and Wine for a Unix pipe without its
// reader, ERROR_PIPE_NOT_CONNECTED.
bool StreamReaderGone(DWORD code)
{
	return code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
}

void StreamWriteError(const WCHAR *line, size_t length)
{
	HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
	char bytes[4096];
	size_t used;

	if (IsConsole(handle)) {
		WriteAll(handle, true, (const BYTE *)line, length * sizeof(WCHAR));
		return;
	}
	while (length > 0) {
		size_t n = Utf16ToUtf8(line, length, bytes, sizeof bytes, &used);
		if (WriteAll(handle, false, (const BYTE *)bytes, n) != 0)
			return;
		line += used;
		length -= used;
	}
}

void EndProcessNow(UINT status)
{
	ExitProcess(status);
}

// A key that gives a character, as the system's own pause counts it:
// Shift, Ctrl or Alt alone give none. Ctrl-C never arrives here while the
// console processes it, and ends the program as ever.
static bool IsKeyPress(const INPUT_RECORD *record)
{
	return record->EventType == KEY_EVENT && record->Event.KeyEvent.bKeyDown &&
	       record->Event.KeyEvent.uChar.UnicodeChar != 0;
}

// One byte, or the end of the input. A pipe left in non-blocking mode
// (PIPE_NOWAIT) by another program answers ERROR_NO_DATA while it is
// empty, and is asked again, as a blocking read would wait; its mode is
// the other program's and stays.
static void ReadOneByte(HANDLE input)
{
	char c;
	DWORD count;

	while (!ReadFile(input, &c, 1, &count, NULL) && GetLastError() == ERROR_NO_DATA)
		Sleep(20);
}

void StreamWaitForKey(void)
{
	HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
	INPUT_RECORD record;
	DWORD count;

	if (!IsConsole(input)) {
		ReadOneByte(input);
		return;
	}
	while (ReadConsoleInputW(input, &record, 1, &count))
		if (count == 1 && IsKeyPress(&record))
			break;
	// The rest of a pasted word or of a line typed ahead is not left for
	// the shell that shares this console, when the output goes to the
	// console or to a file. Through a pipe it may go to a pager such as
	// more, which reads the console too, and keeps its keys.
	if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_PIPE)
		FlushConsoleInputBuffer(input);
}
