// The SIDs that stand for Unix users and groups: S-1-22-1-UID and
// S-1-22-2-GID, the form file servers use for Unix accounts.
#ifndef SID_H
#define SID_H

#include <cstring>

#include "winapi_posix.h"

enum {
	UnixAuthority = 22,
	UnixUserKind = 1,
	UnixGroupKind = 2,
	// Revision, count, authority and two sub-authorities.
	UnixSidBytes = 8 + 2 * 4
};

// Writes the SID of a Unix user or group (kind UnixUserKind or
// UnixGroupKind) into UnixSidBytes bytes at dest, which must be aligned
// for a DWORD.
inline void BuildUnixSid(void *dest, DWORD kind, DWORD id)
{
	SID *sid = (SID *)dest;

	sid->Revision = 1;
	sid->SubAuthorityCount = 2;
	memset(sid->IdentifierAuthority.Value, 0, 6);
	sid->IdentifierAuthority.Value[5] = UnixAuthority;
	// SubAuthority is declared with one element; the second lies just after.
	DWORD *sub = (DWORD *)((BYTE *)dest + 8);
	sub[0] = kind;
	sub[1] = id;
}

#endif
