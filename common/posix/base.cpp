// Base services over the C library: the per-thread last-error code, local
// memory blocks, the system's error text and the end of the process.
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

// A local block carries its size in front of the caller's bytes, so that
// LocalSize can answer; the header keeps the caller's part aligned.
union BlockHeader {
	size_t size;
	max_align_t align;
};

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
	BlockHeader *block;

	if (uBytes > (SIZE_T)-1 - sizeof(BlockHeader)) {
		SetLastError(ENOMEM);
		return NULL;
	}
	if (uFlags & LMEM_ZEROINIT)
		block = (BlockHeader *)calloc(1, sizeof(BlockHeader) + uBytes);
	else
		block = (BlockHeader *)malloc(sizeof(BlockHeader) + uBytes);
	if (block == NULL) {
		SetLastError(ENOMEM);
		return NULL;
	}
	block->size = uBytes;
	return block + 1;
}

SIZE_T LocalSize(HLOCAL hMem)
{
	if (hMem == NULL) {
		SetLastError(EINVAL);
		return 0;
	}
	return ((BlockHeader *)hMem - 1)->size;
}

HLOCAL LocalFree(HLOCAL hMem)
{
	if (hMem != NULL)
		free((BlockHeader *)hMem - 1);
	return NULL;
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

// Only the one use the programs make is served: system text for a code,
// in a block the call allocates.
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                     void *Arguments)
{
	const DWORD wanted = FORMAT_MESSAGE_ALLOCATE_BUFFER |
	                     FORMAT_MESSAGE_IGNORE_INSERTS |
	                     FORMAT_MESSAGE_FROM_SYSTEM;
	char text[256];
	WCHAR wide[256];
	size_t n;
	LPWSTR block;

	(void)lpSource;
	(void)nSize;
	(void)Arguments;
	if (dwFlags != wanted || lpBuffer == NULL ||
	    dwLanguageId != MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)) {
		SetLastError(EINVAL);
		return 0;
	}
	// A code the C library has no name for has no text either. Both calls
	// came with glibc 2.32, the oldest C library this layer builds with;
	// unlike strerror they are never translated and give no "Unknown
	// error N" for a code without a name.
	if (dwMessageId > 0x7FFFFFFF || strerrorname_np((int)dwMessageId) == NULL) {
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

// A Unix exit status keeps only 8 bits: a code that would wrap to 0 ends
// as 1 instead, so that a failure can never pass for success.
void ExitProcess(UINT uExitCode)
{
	int status = (int)(uExitCode & 0xFF);

	if (uExitCode != 0 && status == 0)
		status = 1;
	exit(status);
}
