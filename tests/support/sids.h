// SIDs for the layer's security services: built byte by byte as the
// platform lays them out, and read back as text.
#ifndef TEST_SIDS_H
#define TEST_SIDS_H

#include <string>
#include <vector>

#include "winapi.h"

// A SID of any shape: revision, authority, sub-authorities, and a count
// that may lie about them (negative: the true count). Its data() is the SID.
std::vector<DWORD> MakeSid(BYTE revision, const BYTE (&authority)[6], const std::vector<DWORD> &subs,
                           int count = -1);

// The SID S-1-22-KIND-ID of a Unix user (kind 1) or group (kind 2).
std::vector<DWORD> UnixSid(DWORD kind, DWORD id);

// The text ConvertSidToStringSidW gives for sid (units past ASCII as '#'),
// or "<fails: CODE>". A result that breaks the call's contract says so:
// "<changed>" when a failure still wrote the output, "<short>" when the
// block is smaller than its text, "<kept>" when LocalFree refuses it.
std::string SidText(PSID sid);

#endif
