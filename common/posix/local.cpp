// Local memory blocks over the C library, in a file of their own, so that a
// program may bring its own (the scripted services of the tests do, to
// make them fail).
#include <cerrno>
#include <cstdlib>

#include "winapi_posix.h"

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
