// The account a process runs as, for the Windows helpers of the Wine tests.
#ifndef OWNER_H
#define OWNER_H

#include "winapi.h"

// A SID never takes more (SECURITY_MAX_SID_SIZE).
static const DWORD sidSize = 68;

// The owner's SID into sid (sidSize bytes); false where the token cannot be
// had.
static inline bool CopyOwner(HANDLE process, PSID sid)
{
	HANDLE token;
	union {
		TOKEN_USER user;
		BYTE bytes[sizeof(TOKEN_USER) + sidSize];
	} info;
	DWORD size;
	bool copied = false;

	if (!OpenProcessToken(process, TOKEN_QUERY, &token))
		return false;
	if (GetTokenInformation(token, TokenUser, &info, sizeof info, &size))
		copied = CopySid(sidSize, sid, info.user.User.Sid) != FALSE;
	CloseHandle(token);
	return copied;
}

#endif
