// Formatted output on a Unix system: the wide text goes to stdio's
// standard output as UTF-8, whatever the locale, in 64 KiB writes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "../console.h"
#include "../output.h"
#include "../utf.h"

static char streamBuffer[65536];
static bool streamReady;

// The one line on standard error, then the end. _exit, so that stdio does
// not try again what standard output has refused.
[[noreturn]] static void Fail(int error)
{
	const char *text = strerror(error);
	WCHAR wide[256];
	WCHAR line[512];

	wide[Utf8ToUtf16(text, strlen(text), wide, 255, NULL)] = 0;
	FormatBounded(line, 512, OUTPUT_FAILURE_FORMAT, ProgramName, wide);
	Utf8Write(stderr, line, (size_t)lstrlenW(line));
	_exit(1);
}

static void PrepareStream(void)
{
	if (streamReady)
		return;
	// With descriptor 1 closed, the table would go to whatever file the
	// program opened next.
	if (fcntl(STDOUT_FILENO, F_GETFL) < 0)
		Fail(errno);
	setvbuf(stdout, streamBuffer, _IOFBF, sizeof streamBuffer);
	streamReady = true;
}

void ConsoleWrite(const WCHAR *text, size_t length)
{
	PrepareStream();
	if (!Utf8Write(stdout, text, length))
		Fail(errno);
}

void ConsoleFlushOutput(void)
{
	if (fflush(stdout) != 0)
		Fail(errno);
}
