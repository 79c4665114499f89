// Security services: SIDs as text, and the Unix SIDs resolved through the
// account database, each id asked for once while the cache holds it.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>

#include "../utf.h"
#include "sid.h"
#include "winapi_posix.h"

// Decimal digits of value at text; returns the end.
static WCHAR *PutDecimal(WCHAR *text, uint64_t value)
{
	WCHAR digits[20];
	size_t n = 0;

	do {
		digits[n++] = (WCHAR)('0' + value % 10);
		value /= 10;
	} while (value != 0);
	while (n > 0)
		*text++ = digits[--n];
	return text;
}

// "S-1-", the authority as Windows writes it (decimal when it fits in 32
// bits, else 12 hex digits), then "-N" for each sub-authority. Returns the
// length.
static size_t MakeSidText(const SID *sid, WCHAR *text)
{
	static const char hex[] = "0123456789ABCDEF";
	const DWORD *sub = SidSubAuthorities(sid);
	uint64_t authority = SidAuthority(sid);
	WCHAR *at = text;

	*at++ = 'S';
	*at++ = '-';
	*at++ = '1';
	*at++ = '-';
	if (authority <= UINT32_MAX) {
		at = PutDecimal(at, authority);
	} else {
		*at++ = '0';
		*at++ = 'x';
		for (int shift = 44; shift >= 0; shift -= 4)
			*at++ = (WCHAR)hex[(authority >> shift) & 0xF];
	}
	for (int i = 0; i < sid->SubAuthorityCount; i++) {
		*at++ = '-';
		at = PutDecimal(at, sub[i]);
	}
	return (size_t)(at - text);
}

// The texts of the SIDs last asked for: a table has a handful of owners,
// each on many rows. The oldest makes room.
enum {
	SidTextSlots = 8,
	SidBytesMax = 8 + SID_MAX_SUB_AUTHORITIES * 4,
	// "S-1-", a 14-character authority, 15 times "-4294967295".
	SidTextMax = 4 + 14 + SID_MAX_SUB_AUTHORITIES * 11
};

struct SidTextEntry {
	size_t sidBytes;
	BYTE sid[SidBytesMax];
	size_t length;
	WCHAR text[SidTextMax];
};

static SidTextEntry sidTexts[SidTextSlots];
static size_t sidTextsUsed, sidTextsNext;

static const SidTextEntry *SidTextOf(const SID *sid)
{
	size_t bytes = 8 + (size_t)sid->SubAuthorityCount * 4;
	SidTextEntry *e;

	for (size_t i = 0; i < sidTextsUsed; i++)
		if (sidTexts[i].sidBytes == bytes && memcmp(sidTexts[i].sid, sid, bytes) == 0)
			return &sidTexts[i];
	e = &sidTexts[sidTextsNext];
	sidTextsNext = (sidTextsNext + 1) % SidTextSlots;
	if (sidTextsUsed < SidTextSlots)
		sidTextsUsed++;
	e->sidBytes = bytes;
	memcpy(e->sid, sid, bytes);
	e->length = MakeSidText(sid, e->text);
	return e;
}

BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR *StringSid)
{
	const SID *sid = (const SID *)Sid;
	const SidTextEntry *e;
	LPWSTR block;

	if (!SidIsValid(sid) || StringSid == NULL) {
		SetLastError(EINVAL);
		return FALSE;
	}
	e = SidTextOf(sid);
	block = (LPWSTR)LocalAlloc(0, (e->length + 1) * sizeof(WCHAR));
	if (block == NULL)
		return FALSE;
	memcpy(block, e->text, e->length * sizeof(WCHAR));
	block[e->length] = 0;
	*StringSid = block;
	return TRUE;
}

// The account-database answers of this run, found and not found alike. A
// table meets a handful of ids, and each query costs the C library a read
// of the database (tens of microseconds from files, far more for an id it
// lacks), so a small array searched in order serves. The programs call from
// one thread only, hence no lock. When the array is full the oldest answer
// makes room; a name too long for a slot is asked for each time: slower,
// never wrong.
enum {
	CacheSlots = 32,
	CachedNameMax = 255,        // a login name's limit, less its terminator
	AccountNameMax = 4096       // longest name, in bytes and so in units
};

struct CacheEntry {
	bool group;
	bool found;
	DWORD id;
	size_t nameLength;
	WCHAR name[CachedNameMax + 1];
};

static CacheEntry cache[CacheSlots];
static size_t cacheUsed, cacheNext;

// Asks the account database, into a fixed buffer first; only an entry too
// large for it (a group with very many members) costs an allocation.
// Returns 0 with *found set, or an error code. name holds
// AccountNameMax + 1 units.
static int QueryDatabase(bool group, DWORD id, WCHAR *name, size_t *nameLength,
                         bool *found)
{
	char fixed[16384];
	char *buffer = fixed, *grown = NULL;
	size_t size = sizeof fixed;
	int rc;

	for (;;) {
		const char *text = NULL;
		if (group) {
			struct group entry, *result = NULL;
			rc = getgrgid_r((gid_t)id, &entry, buffer, size, &result);
			if (rc == 0 && result != NULL)
				text = result->gr_name;
		} else {
			struct passwd entry, *result = NULL;
			rc = getpwuid_r((uid_t)id, &entry, buffer, size, &result);
			if (rc == 0 && result != NULL)
				text = result->pw_name;
		}
		if (rc == ERANGE && size < (size_t)16 * 1024 * 1024) {
			char *bigger = (char *)realloc(grown, size * 4);
			if (bigger == NULL) {
				rc = ENOMEM;
				break;
			}
			grown = buffer = bigger;
			size *= 4;
			continue;
		}
		if (rc == 0 && text != NULL && strlen(text) > AccountNameMax)
			rc = ENAMETOOLONG;
		if (rc == 0) {
			*found = text != NULL;
			*nameLength = text == NULL ? 0 : Utf8ToUtf16(text, strlen(text), name, AccountNameMax, NULL);
			name[*nameLength] = 0;
		}
		break;
	}
	free(grown);
	return rc;
}

static void Remember(bool group, DWORD id, bool found, const WCHAR *name, size_t nameLength)
{
	CacheEntry *e = &cache[cacheNext];

	if (found && nameLength > CachedNameMax)
		return;
	cacheNext = (cacheNext + 1) % CacheSlots;
	if (cacheUsed < CacheSlots)
		cacheUsed++;
	e->group = group;
	e->id = id;
	e->found = found;
	e->nameLength = found ? nameLength : 0;
	if (found)
		memcpy(e->name, name, (nameLength + 1) * sizeof(WCHAR));
}

// Resolves a Unix user or group id to its decoded name: *name is the
// cache's copy, or scratch, which holds AccountNameMax + 1 units, for a name
// just asked for. Returns 0 when found, ENOENT when the database has no
// such id, or another error code (not remembered: the next call asks
// again).
static int ResolveId(bool group, DWORD id, WCHAR *scratch, const WCHAR **name, size_t *nameLength)
{
	bool found = false;
	int rc;

	for (size_t i = 0; i < cacheUsed; i++) {
		const CacheEntry *e = &cache[i];
		if (e->group != group || e->id != id)
			continue;
		if (!e->found)
			return ENOENT;
		*name = e->name;
		*nameLength = e->nameLength;
		return 0;
	}
	rc = QueryDatabase(group, id, scratch, nameLength, &found);
	if (rc != 0)
		return rc;
	Remember(group, id, found, scratch, *nameLength);
	*name = scratch;
	return found ? 0 : ENOENT;
}

BOOL LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name,
                       LPDWORD cchName, LPWSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
	static const WCHAR userDomain[] = WIDE("Unix User");
	static const WCHAR groupDomain[] = WIDE("Unix Group");
	const SID *sid = (const SID *)Sid;
	DWORD kind, id;
	bool group;
	const WCHAR *domain;
	size_t domainLength, nameLength;
	WCHAR scratch[AccountNameMax + 1];
	const WCHAR *name;
	int rc;

	if (lpSystemName != NULL || !SidIsValid(sid) || cchName == NULL ||
	    cchReferencedDomainName == NULL || peUse == NULL ||
	    (Name == NULL && *cchName != 0) ||
	    (ReferencedDomainName == NULL && *cchReferencedDomainName != 0)) {
		SetLastError(EINVAL);
		return FALSE;
	}
	if (!ReadUnixSid(sid, &kind, &id)) {
		SetLastError(ENOENT);
		return FALSE;
	}
	group = kind == UnixGroupKind;
	domain = group ? groupDomain : userDomain;
	domainLength = (group ? sizeof groupDomain : sizeof userDomain) / sizeof(WCHAR) - 1;
	rc = ResolveId(group, id, scratch, &name, &nameLength);
	if (rc != 0) {
		SetLastError((DWORD)rc);
		return FALSE;
	}
	if (*cchName < nameLength + 1 || *cchReferencedDomainName < domainLength + 1) {
		*cchName = (DWORD)(nameLength + 1);
		*cchReferencedDomainName = (DWORD)(domainLength + 1);
		SetLastError(ERANGE);
		return FALSE;
	}
	// A null Name comes only with a capacity of 0, refused just above.
	memcpy(Name, name, (nameLength + 1) * sizeof(WCHAR)); // NOLINT(clang-analyzer-core.NonNullParamChecker)
	memcpy(ReferencedDomainName, domain, (domainLength + 1) * sizeof(WCHAR));
	*cchName = (DWORD)nameLength;
	*cchReferencedDomainName = (DWORD)domainLength;
	*peUse = group ? SidTypeGroup : SidTypeUser;
	return TRUE;
}
