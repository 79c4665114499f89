// Formatted output on Windows. A console gets the wide text itself through
// WriteConsoleW, so that every character shows whatever the console's code
// page. Anything else (a file, a pipe) gets UTF-8 through the C runtime's
// standard output in its default text mode, where a line feed becomes
// CR LF as in every Windows text stream.
#include <cstdio>
#include <cstdlib>

#include "../output.h"
#include "../utf.h"

// Units gathered before they go out; a surrogate pair is never split
// between two hand-overs.
static WCHAR pending[2048];
static size_t pendingUsed;
// A high surrogate that ended the previous piece of the same text.
static WCHAR heldHigh;

static HANDLE consoleHandle;
static bool outputChecked;

// Decided once: whether standard output is a console.
static void CheckOutput(void)
{
	HANDLE handle;
	DWORD mode;

	if (outputChecked)
		return;
	outputChecked = true;
	// What is still gathered at the normal end goes out then.
	atexit(ConsoleFlushOutput);
	handle = GetStdHandle(STD_OUTPUT_HANDLE);
	if (handle != NULL && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode))
		consoleHandle = handle;
}

static void WriteToConsole(const WCHAR *text, size_t length)
{
	while (length > 0) {
		DWORD chunk = length > 0x8000 ? 0x8000 : (DWORD)length;
		DWORD written = 0;

		if (!WriteConsoleW(consoleHandle, text, chunk, &written, NULL) || written == 0)
			return;
		text += written;
		length -= written;
	}
}

static void WriteUtf8(const WCHAR *text, size_t length)
{
	char bytes[4096];
	size_t done = 0;

	while (done < length) {
		size_t used;
		size_t count = Utf16ToUtf8(text + done, length - done, bytes, sizeof bytes,
		                           true, &used);

		fwrite(bytes, 1, count, stdout);
		if (used == 0)
			break;
		done += used;
	}
}

static void Drain(void)
{
	if (pendingUsed == 0)
		return;
	if (consoleHandle != NULL)
		WriteToConsole(pending, pendingUsed);
	else
		WriteUtf8(pending, pendingUsed);
	pendingUsed = 0;
}

// Appends one character of one or two units, keeping a pair together.
static void Put(const WCHAR *units, size_t count)
{
	if (pendingUsed + count > sizeof pending / sizeof pending[0])
		Drain();
	pending[pendingUsed++] = units[0];
	if (count == 2)
		pending[pendingUsed++] = units[1];
}

static void PutReplacement(void)
{
	static const WCHAR replacement = 0xFFFD;

	Put(&replacement, 1);
}

// Only whole pairs go out; an unpaired surrogate becomes U+FFFD, on the
// console as in UTF-8.
void ConsoleWrite(const WCHAR *text, size_t length, bool final)
{
	size_t i;

	CheckOutput();
	for (i = 0; i < length; i++) {
		WCHAR unit = text[i];

		if (unit >= 0xD800 && unit <= 0xDBFF) {
			if (heldHigh != 0)
				PutReplacement();
			heldHigh = unit;
		} else if (unit >= 0xDC00 && unit <= 0xDFFF) {
			if (heldHigh != 0) {
				WCHAR pair[2] = {heldHigh, unit};

				Put(pair, 2);
				heldHigh = 0;
			} else {
				PutReplacement();
			}
		} else {
			if (heldHigh != 0) {
				PutReplacement();
				heldHigh = 0;
			}
			Put(&unit, 1);
		}
	}
	if (final && heldHigh != 0) {
		PutReplacement();
		heldHigh = 0;
	}
}

void ConsoleFlushOutput(void)
{
	CheckOutput();
	if (heldHigh != 0) {
		PutReplacement();
		heldHigh = 0;
	}
	Drain();
	fflush(stdout);
}
