// Security services: SIDs as text, and the Unix SIDs resolved through the
// account database, each id asked for once while the cache holds it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>

#include "../utf.h"
#include "sid.h"
#include "winapi_posix.h"

BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR *StringSid)
{
	const SID *sid = (const SID *)Sid;
	const DWORD *sub;
	uint64_t authority;
	// "S-1-", a 14-character authority, 15 times "-4294967295".
	char text[4 + 14 + SID_MAX_SUB_AUTHORITIES * 11 + 1];
	int n;
	LPWSTR block;

	if (!SidIsValid(sid) || StringSid == NULL) {
		SetLastError(EINVAL);
		return FALSE;
	}
	authority = SidAuthority(sid);
	// As Windows writes it: decimal when it fits in 32 bits, else hex.
	if (authority <= UINT32_MAX)
		n = snprintf(text, sizeof text, "S-1-%lu", (unsigned long)authority);
	else
		n = snprintf(text, sizeof text, "S-1-0x%012llX", (unsigned long long)authority);
	sub = SidSubAuthorities(sid);
	for (int i = 0; i < sid->SubAuthorityCount; i++)
		n += snprintf(text + n, sizeof text - (size_t)n, "-%lu", (unsigned long)sub[i]);
	block = (LPWSTR)LocalAlloc(LMEM_ZEROINIT, ((size_t)n + 1) * sizeof(WCHAR));
	if (block == NULL)
		return FALSE;
	for (int i = 0; i < n; i++)
		block[i] = (WCHAR)(unsigned char)text[i];
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

// Resolves a Unix user or group id to its decoded name, into
// AccountNameMax + 1 units at name. Returns 0 when found, ENOENT when the
// database has no such id, or another error code (not remembered: the next
// call asks again).
static int ResolveId(bool group, DWORD id, WCHAR *name, size_t *nameLength)
{
	bool found = false;
	int rc;

	for (size_t i = 0; i < cacheUsed; i++) {
		const CacheEntry *e = &cache[i];
		if (e->group != group || e->id != id)
			continue;
		if (!e->found)
			return ENOENT;
		memcpy(name, e->name, (e->nameLength + 1) * sizeof(WCHAR));
		*nameLength = e->nameLength;
		return 0;
	}
	rc = QueryDatabase(group, id, name, nameLength, &found);
	if (rc != 0)
		return rc;
	Remember(group, id, found, name, *nameLength);
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
	WCHAR name[AccountNameMax + 1];
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
	rc = ResolveId(group, id, name, &nameLength);
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
