#include "sid.h"

#include <cstring>

static const BYTE unixAuthority = 22;

bool SidIsValid(const SID *sid)
{
	return sid != NULL && sid->Revision == 1 &&
	       sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

uint64_t SidAuthority(const SID *sid)
{
	uint64_t authority = 0;

	for (int i = 0; i < 6; i++)
		authority = (authority << 8) | sid->IdentifierAuthority.Value[i];
	return authority;
}

// SubAuthority is declared with one element; the others lie just after it.
const DWORD *SidSubAuthorities(const SID *sid)
{
	return (const DWORD *)((const BYTE *)sid + 8);
}

void BuildUnixSid(void *dest, DWORD kind, DWORD id)
{
	SID *sid = (SID *)dest;
	DWORD *sub = (DWORD *)((BYTE *)dest + 8);

	sid->Revision = 1;
	sid->SubAuthorityCount = 2;
	memset(sid->IdentifierAuthority.Value, 0, 6);
	sid->IdentifierAuthority.Value[5] = unixAuthority;
	sub[0] = kind;
	sub[1] = id;
}

bool ReadUnixSid(const SID *sid, DWORD *kind, DWORD *id)
{
	const DWORD *sub = SidSubAuthorities(sid);

	if (SidAuthority(sid) != unixAuthority || sid->SubAuthorityCount != 2 ||
	    (sub[0] != UnixUserKind && sub[0] != UnixGroupKind))
		return false;
	*kind = sub[0];
	*id = sub[1];
	return true;
}
