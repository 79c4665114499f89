// The binary SID as Windows lays it out, and the SIDs that stand for Unix
// users and groups: S-1-22-1-UID and S-1-22-2-GID, the form file servers
// use for Unix accounts. Everything that knows the layout is in sid.cpp.
#ifndef SID_H
#define SID_H

#include "winapi_posix.h"

enum {
	UnixUserKind = 1,
	UnixGroupKind = 2,
	// Revision, count, authority and two sub-authorities.
	UnixSidBytes = 8 + 2 * 4
};

// Whether sid is a SID at all: revision 1, at most 15 sub-authorities.
bool SidIsValid(const SID *sid);

// The identifier authority, a 48-bit number.
uint64_t SidAuthority(const SID *sid);

// The sub-authorities, SubAuthorityCount of them, after the fixed part.
const DWORD *SidSubAuthorities(const SID *sid);

// Writes the SID of a Unix user or group (kind UnixUserKind or
// UnixGroupKind) into UnixSidBytes bytes at dest, which must be aligned
// for a DWORD.
void BuildUnixSid(void *dest, DWORD kind, DWORD id);

// Whether a valid sid is that of a Unix user or group; then its kind and
// id.
bool ReadUnixSid(const SID *sid, DWORD *kind, DWORD *id);

#endif
