#include "report.h"

#include <cstdint>

#include "console.h"
#include "format.h"

static const WCHAR composedFormat[] = WIDE("%s failed with error %d: %s");

static DWORD firstStatus;

DWORD ReportedStatus(void)
{
	return firstStatus;
}

void ReportLastError(const WCHAR *operationName, bool fatal)
{
	DWORD errorCode = GetLastError();
	// A failed call that left no code must still end as a failure.
	DWORD status = errorCode != 0 ? errorCode : 1;
	LPWSTR lpMsgBuf = NULL;
	LPWSTR composed = NULL;
	int64_t characters;
	LPWSTR line;
	size_t capacity;
	// Used only when no block can be had: the line still names the
	// operation and the code, with as much of the text as fits.
	WCHAR fallback[512];

	FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
	               FORMAT_MESSAGE_FROM_SYSTEM,
	               NULL, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
	               (LPWSTR)&lpMsgBuf, 0, NULL);
	// 21 characters of the format and up to 11 for the code fit in 40.
	// The count must hold as a signed 32-bit sum; one that would not has
	// no block.
	characters = (int64_t)lstrlenW(lpMsgBuf) + lstrlenW(operationName) + 40;
	if (characters <= INT32_MAX)
		composed = (LPWSTR)LocalAlloc(LMEM_ZEROINIT, (SIZE_T)characters * 2);
	if (composed != NULL) {
		line = composed;
		capacity = LocalSize(composed) / 2;
	} else {
		line = fallback;
		capacity = sizeof fallback / sizeof fallback[0];
	}
	// Without the system's text the line still ends as that text would
	// have ended it.
	FormatBounded(line, capacity, composedFormat, operationName, errorCode,
	              lpMsgBuf != NULL ? lpMsgBuf : SYSTEM_TEXT_LINE_END);
	ConsolePrintf(consoleProgram.errorLineFormat, line);
	LocalFree(lpMsgBuf);
	LocalFree(composed);
	if (firstStatus == 0)
		firstStatus = status;
	if (fatal) {
		ConsoleFlush();
		ExitProcess(status);
	}
}
