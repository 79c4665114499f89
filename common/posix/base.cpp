// Base services over the C library: the per-thread last-error code, the
// length of wide text, the system's error text and the end of the process.
// The local memory blocks are in local.cpp.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../utf.h"
#include "winapi_posix.h"

static thread_local DWORD lastError;

DWORD GetLastError(void)
{
	return lastError;
}

void SetLastError(DWORD dwErrCode)
{
	lastError = dwErrCode;
}

int lstrlenW(LPCWSTR lpString)
{
	int n = 0;

	if (lpString == NULL)
		return 0;
	while (lpString[n] != 0)
		n++;
	return n;
}

DWORD FormatMessageW(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId,
                     DWORD dwLanguageId, LPWSTR lpBuffer, DWORD /*nSize*/,
                     void * /*Arguments*/)
{
	const DWORD wanted = FORMAT_MESSAGE_ALLOCATE_BUFFER |
	                     FORMAT_MESSAGE_IGNORE_INSERTS |
	                     FORMAT_MESSAGE_FROM_SYSTEM;
	char text[256];
	WCHAR wide[256];
	size_t n;
	LPWSTR block;

	if (dwFlags != wanted || lpBuffer == NULL ||
	    dwLanguageId != MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)) {
		SetLastError(EINVAL);
		return 0;
	}
	// A code the C library has no name for has no text either. Both calls
	// came with glibc 2.32, the oldest C library this layer builds with;
	// unlike strerror they are never translated and give no "Unknown
	// error N" for a code without a name.
	// A code above INT_MAX is negative as an int, which has no name either.
	if (strerrorname_np((int)dwMessageId) == NULL) {
		SetLastError(ENOMSG);
		return 0;
	}
	snprintf(text, sizeof text, "%s\n", strerrordesc_np((int)dwMessageId));
	n = Utf8ToUtf16(text, strlen(text), wide, sizeof wide / sizeof wide[0] - 1, NULL);
	block = (LPWSTR)LocalAlloc(LMEM_ZEROINIT, (n + 1) * sizeof(WCHAR));
	if (block == NULL)
		return 0;
	memcpy(block, wide, n * sizeof(WCHAR));
	*(LPWSTR *)lpBuffer = block;
	return (DWORD)n;
}

// A Unix exit status keeps only 8 bits.
void ExitProcess(UINT uExitCode)
{
	int status = (int)(uExitCode & 0xFF);

	if (uExitCode != 0 && status == 0)
		status = 1;
	exit(status);
}
