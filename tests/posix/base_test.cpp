// The base services refuse what they do not serve with a code, and give
// no block for a size that cannot be had.
#include <gtest/gtest.h>

#include <cerrno>

#include "winapi.h"

TEST(BaseServices, RefuseWhatTheyDoNotServe)
{
	const DWORD served = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
	                     FORMAT_MESSAGE_FROM_SYSTEM;
	const DWORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
	const struct {
		DWORD flags, code, language, error;
	} cases[] = {
		{served, 2, neutral, 0},
		{served & ~FORMAT_MESSAGE_ALLOCATE_BUFFER, 2, neutral, EINVAL},
		{served, 2, 0x409, EINVAL},
		{served, 4000, neutral, ENOMSG},
		{served, 0xC0000005, neutral, ENOMSG},
	};
	for (const auto &c : cases) {
		LPWSTR text = NULL;
		SetLastError(0);
		DWORD n = FormatMessageW(c.flags, NULL, c.code, c.language, (LPWSTR)&text, 0, NULL);
		EXPECT_EQ(n == 0, c.error != 0) << c.code;
		EXPECT_EQ(text == NULL, c.error != 0) << c.code;
		EXPECT_EQ(GetLastError(), c.error) << c.code;
		LocalFree(text);
	}
	EXPECT_EQ(LocalSize(NULL), 0u);
	EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
	EXPECT_EQ(lstrlenW(NULL), 0);
	// Too large with the block's header, and too large for the C library
	// (whose refusal AddressSanitizer turns into a report of its own).
	EXPECT_EQ(LocalAlloc(LMEM_ZEROINIT, (SIZE_T)-1), nullptr);
	EXPECT_EQ(GetLastError(), (DWORD)ENOMEM);
#ifndef __SANITIZE_ADDRESS__
	SetLastError(0);
	EXPECT_EQ(LocalAlloc(LMEM_ZEROINIT, (SIZE_T)-1 - 4096), nullptr);
	EXPECT_EQ(GetLastError(), (DWORD)ENOMEM);
#endif
}
