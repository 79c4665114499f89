// Formatted output on a Unix system: the wide text goes to stdio's
// standard output as UTF-8, whatever the locale, so that exit and
// fflush(stdout) bring it all out.
#include <cstdio>

#include "../output.h"
#include "../utf.h"

static char streamBuffer[65536];
static bool streamReady;
// A high surrogate that ended the previous piece of the same text.
static WCHAR pendingHigh;

static void PrepareStream(void)
{
	if (!streamReady) {
		setvbuf(stdout, streamBuffer, _IOFBF, sizeof streamBuffer);
		streamReady = true;
	}
}

// Encodes and writes units; returns how many were encoded, which is fewer
// than length only when a high surrogate at the end is held back.
static size_t Encode(const WCHAR *text, size_t length, bool final)
{
	char bytes[4096];
	size_t done = 0;

	while (done < length) {
		size_t used;
		size_t count = Utf16ToUtf8(text + done, length - done, bytes,
		                           sizeof bytes, final, &used);
		fwrite(bytes, 1, count, stdout);
		if (used == 0)
			break;
		done += used;
	}
	return done;
}

void ConsoleWrite(const WCHAR *text, size_t length, bool final)
{
	size_t done;

	PrepareStream();
	if (pendingHigh != 0) {
		WCHAR pair[2] = {pendingHigh, 0};
		size_t units = 1;

		if (length == 0 && !final)
			return;
		if (length > 0 && text[0] >= 0xDC00 && text[0] <= 0xDFFF) {
			pair[1] = text[0];
			units = 2;
			text++;
			length--;
		}
		pendingHigh = 0;
		Encode(pair, units, true);
	}
	done = Encode(text, length, final);
	if (done < length)
		pendingHigh = text[done];
}

void ConsoleFlushOutput(void)
{
	fflush(stdout);
}
