// SIDs as text and the Unix SIDs resolved against this system's account
// database, which this program counts the queries of: it stands in front of
// the C library's lookups, and adds one account of its own.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <map>
#include <pwd.h>
#include <string>
#include <vector>

#include "posix/sid.h"
#include "utf.h"
#include "winapi.h"
#include "sids.h"

namespace {

// Queries from outside the database only: a name service module may ask
// the C library again from inside one.
int depth;
std::map<uid_t, int> userQueries;
std::map<gid_t, int> groupQueries;
// An account of the tests' own, its name longer than a slot of the cache.
const uid_t longUid = 4000000010u;
const std::string longName(300, 'n');

// Counts a query of the database and makes it.
template <typename Id, typename Entry>
int Counted(std::map<Id, int> *queries, int (*real)(Id, Entry *, char *, size_t, Entry **), Id id,
            Entry *entry, char *buf, size_t buflen, Entry **result)
{
	(*queries)[id] += depth == 0;
	depth++;
	int rc = real(id, entry, buf, buflen, result);
	depth--;
	return rc;
}

} // namespace

extern "C" int getpwuid_r(uid_t uid, struct passwd *pwd, char *buf, size_t buflen,
                          struct passwd **result)
{
	static auto real = (decltype(&getpwuid_r))dlsym(RTLD_NEXT, "getpwuid_r");
	if (uid == longUid && buflen > longName.size()) {
		*pwd = {};
		pwd->pw_name = strcpy(buf, longName.c_str());
		*result = pwd;
		return 0;
	}
	return Counted(&userQueries, real, uid, pwd, buf, buflen, result);
}

extern "C" int getgrgid_r(gid_t gid, struct group *grp, char *buf, size_t buflen,
                          struct group **result)
{
	static auto real = (decltype(&getgrgid_r))dlsym(RTLD_NEXT, "getgrgid_r");
	return Counted(&groupQueries, real, gid, grp, buf, buflen, result);
}

namespace {

const BYTE unix[6] = {0, 0, 0, 0, 0, 22};
const BYTE nt[6] = {0, 0, 0, 0, 0, 5};
const BYTE nullAuthority[6] = {0, 0, 0, 0, 0, 0};

TEST(SidText, AsThePlatformWritesIt)
{
	// The authority in decimal up to 32 bits, else in hex; fifteen
	// sub-authorities at most; anything else malformed.
	const BYTE max32[6] = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
	const BYTE above32[6] = {0, 1, 0, 0, 0, 0};
	const BYTE large[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
	std::vector<DWORD> fifteen(15, 4294967295u), sixteen(16, 1);
	std::string fifteenText = "S-1-0x123456789ABC";
	for (int i = 0; i < 15; i++)
		fifteenText += "-4294967295";
	const std::string invalid = "<fails: " + std::to_string(EINVAL) + ">";
	const struct {
		std::vector<DWORD> sid;
		std::string text;
	} cases[] = {
		{UnixSid(1, 0), "S-1-22-1-0"},
		{UnixSid(2, 4294967295u), "S-1-22-2-4294967295"},
		{MakeSid(1, nt, {18}), "S-1-5-18"},
		{MakeSid(1, nt, {21, 1004336348, 1177238915, 682003330, 512}),
		 "S-1-5-21-1004336348-1177238915-682003330-512"},
		{MakeSid(1, nullAuthority, {}), "S-1-0"},
		{MakeSid(1, max32, {7}), "S-1-4294967295-7"},
		{MakeSid(1, above32, {7}), "S-1-0x000100000000-7"},
		{MakeSid(1, large, {}), "S-1-0x123456789ABC"},
		{MakeSid(1, large, fifteen), fifteenText},
		{MakeSid(1, large, sixteen), invalid},
		{MakeSid(2, unix, {1, 0}), invalid},
		{MakeSid(0, unix, {1, 0}), invalid},
	};
	for (const auto &c : cases)
		EXPECT_EQ(SidText((PSID)c.sid.data()), c.text);
	EXPECT_EQ(SidText(nullptr), invalid);
	std::vector<DWORD> sid = UnixSid(1, 0);
	SetLastError(0);
	EXPECT_FALSE(ConvertSidToStringSidW(sid.data(), nullptr));
	EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
}

TEST(SidText, BuiltUnixSidMatchesLayout)
{
	DWORD words[UnixSidBytes / sizeof(DWORD)];
	BuildUnixSid(words, UnixUserKind, 123456);
	EXPECT_EQ(SidText(words), "S-1-22-1-123456");
	EXPECT_EQ(memcmp(words, UnixSid(1, 123456).data(), UnixSidBytes), 0);
	BuildUnixSid(words, UnixGroupKind, 0);
	EXPECT_EQ(SidText(words), "S-1-22-2-0");
}

struct Lookup {
	BOOL ok;
	DWORD error;
	std::u16string name, domain;
	DWORD nameLen, domainLen;
	SID_NAME_USE use;
};

Lookup LookUp(PSID sid, DWORD nameCapacity = 1024, DWORD domainCapacity = 1024)
{
	Lookup r;
	std::vector<WCHAR> name(nameCapacity + 1, 0x7777), domain(domainCapacity + 1, 0x7777);
	r.nameLen = nameCapacity;
	r.domainLen = domainCapacity;
	r.use = (SID_NAME_USE)0;
	SetLastError(0);
	r.ok = LookupAccountSidW(nullptr, sid, name.data(), &r.nameLen, domain.data(), &r.domainLen, &r.use);
	r.error = GetLastError();
	// Nothing beyond the capacity given is ever written.
	EXPECT_EQ(name[nameCapacity], 0x7777);
	EXPECT_EQ(domain[domainCapacity], 0x7777);
	if (r.ok) {
		EXPECT_EQ(name[r.nameLen], 0);
		EXPECT_EQ(domain[r.domainLen], 0);
		r.name.assign(name.data(), r.nameLen);
		r.domain.assign(domain.data(), r.domainLen);
	} else {
		// On failure the buffers are left as they were.
		EXPECT_EQ(name[0], 0x7777);
		EXPECT_EQ(domain[0], 0x7777);
	}
	return r;
}

// Accounts resolve to their names, users and groups each in their domain.
void ExpectAccount(DWORD kind, DWORD id, const std::string &name)
{
	Lookup r = LookUp(UnixSid(kind, id).data());
	ASSERT_TRUE(r.ok) << name << ": " << r.error;
	std::u16string wide(name.size(), 0);
	wide.resize(Utf8ToUtf16(name.data(), name.size(), wide.data(), wide.size(), nullptr));
	EXPECT_EQ(r.name, wide);
	EXPECT_EQ(r.domain, kind == 1 ? u"Unix User" : u"Unix Group");
	EXPECT_EQ(r.use, kind == 1 ? SidTypeUser : SidTypeGroup);
}

TEST(AccountLookup, AgreesWithTheAccountDatabase)
{
	ExpectAccount(1, 0, "root");
	ExpectAccount(2, 0, "root");
	// Every account the database lists by enumeration.
	int checked = 0;
	setpwent();
	for (struct passwd *pw; (pw = getpwent()) != nullptr && checked < 50; checked++) {
		std::string name = pw->pw_name;
		uid_t uid = pw->pw_uid;
		if (getpwuid(uid) == nullptr || name != getpwuid(uid)->pw_name)
			continue; // a second name for a uid: the first one wins
		ExpectAccount(1, uid, name);
	}
	endpwent();
	EXPECT_GT(checked, 0);
	struct group *nogroup = getgrnam("nogroup");
	if (nogroup != nullptr)
		ExpectAccount(2, nogroup->gr_gid, "nogroup");
}

TEST(AccountLookup, UnknownIdsAndOtherSidsFail)
{
	ASSERT_EQ(getpwuid(4000000000u), nullptr) << "this system has uid 4000000000";
	ASSERT_EQ(getgrgid(4000000000u), nullptr) << "this system has gid 4000000000";
	const BYTE nearly[6] = {0, 0, 0, 0, 1, 22};
	const std::vector<std::vector<DWORD>> others = {
		UnixSid(1, 4000000000u),
		UnixSid(2, 4000000000u),
		MakeSid(1, nt, {18}),
		MakeSid(1, unix, {3, 0}),
		MakeSid(1, unix, {1}),
		MakeSid(1, unix, {1, 0, 0}),
		MakeSid(1, nearly, {1, 0}),
	};
	// Twice: an unknown id stays unknown once its answer is kept.
	for (int twice = 0; twice < 2; twice++)
		for (const std::vector<DWORD> &sid : others) {
			Lookup r = LookUp((PSID)sid.data());
			EXPECT_FALSE(r.ok);
			EXPECT_EQ(r.error, (DWORD)ENOENT);
		}
}

TEST(AccountLookup, BadArgumentsFailAndTouchNothing)
{
	std::vector<DWORD> sid = UnixSid(1, 0), malformed = MakeSid(3, unix, {1, 0});
	WCHAR name[64], domain[64];
	DWORD nameLen = 64, domainLen = 64;
	SID_NAME_USE use;
	const struct {
		LPCWSTR server;
		PSID sid;
		LPWSTR name;
		DWORD *nameLen;
		SID_NAME_USE *use;
	} cases[] = {
		{u"elsewhere", sid.data(), name, &nameLen, &use},
		{nullptr, nullptr, name, &nameLen, &use},
		{nullptr, malformed.data(), name, &nameLen, &use},
		{nullptr, sid.data(), name, nullptr, &use},
		{nullptr, sid.data(), name, &nameLen, nullptr},
		{nullptr, sid.data(), nullptr, &nameLen, &use},
	};
	for (const auto &c : cases) {
		SetLastError(0);
		EXPECT_FALSE(LookupAccountSidW(c.server, c.sid, c.name, c.nameLen, domain, &domainLen, c.use));
		EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
		EXPECT_EQ(nameLen, 64u);
		EXPECT_EQ(domainLen, 64u);
	}
}

TEST(AccountLookup, BufferRules)
{
	std::vector<DWORD> sid = UnixSid(1, 0);
	// "root" needs 5 with its terminator, "Unix User" 10; too small either
	// way gives both sizes needed.
	const DWORD tooSmall[][2] = {{4, 10}, {5, 9}, {0, 0}};
	for (const auto &capacity : tooSmall) {
		Lookup r = LookUp(sid.data(), capacity[0], capacity[1]);
		EXPECT_FALSE(r.ok);
		EXPECT_EQ(r.error, (DWORD)ERANGE);
		EXPECT_EQ(r.nameLen, 5u);
		EXPECT_EQ(r.domainLen, 10u);
	}
	Lookup r = LookUp(sid.data(), 5, 10);
	ASSERT_TRUE(r.ok);
	EXPECT_EQ(r.name, u"root");
	EXPECT_EQ(r.domain, u"Unix User");
	EXPECT_EQ(r.nameLen, 4u);
	EXPECT_EQ(r.domainLen, 9u);

	// The size query of Windows: no buffers, capacities of 0.
	DWORD nameLen = 0, domainLen = 0;
	SID_NAME_USE use;
	SetLastError(0);
	EXPECT_FALSE(LookupAccountSidW(nullptr, sid.data(), nullptr, &nameLen, nullptr, &domainLen, &use));
	EXPECT_EQ(GetLastError(), (DWORD)ERANGE);
	EXPECT_EQ(nameLen, 5u);
	EXPECT_EQ(domainLen, 10u);
}

// A table of 10,000 processes of one user asks the database once for that
// user, found or not; users and groups stay apart, and answers stay right
// when more ids come than the cache holds.
TEST(AccountLookup, DatabaseAskedOncePerId)
{
	const DWORD unknown = 4000000003u;
	ASSERT_EQ(getpwuid(unknown), nullptr) << "this system has uid " << unknown;
	ASSERT_EQ(getgrgid(unknown), nullptr) << "this system has gid " << unknown;
	int rootBefore = userQueries[0], groupBefore = groupQueries[0];
	int unknownBefore = userQueries[unknown], unknownGroupBefore = groupQueries[unknown];
	for (int i = 0; i < 10000; i++) {
		Lookup user = LookUp(UnixSid(1, 0).data());
		ASSERT_TRUE(user.ok && user.name == u"root") << i;
		ASSERT_FALSE(LookUp(UnixSid(1, unknown).data()).ok) << i;
		ASSERT_FALSE(LookUp(UnixSid(2, unknown).data()).ok) << i;
		ASSERT_TRUE(LookUp(UnixSid(2, 0).data()).ok) << i;
	}
	EXPECT_LE(userQueries[0] - rootBefore, 1);
	EXPECT_LE(groupQueries[0] - groupBefore, 1);
	EXPECT_EQ(userQueries[unknown] - unknownBefore, 1);
	EXPECT_EQ(groupQueries[unknown] - unknownGroupBefore, 1);

	for (DWORD id = 3000000000u; id < 3000000100u; id++)
		ASSERT_FALSE(LookUp(UnixSid(1, id).data()).ok) << id;
	Lookup user = LookUp(UnixSid(1, 0).data());
	EXPECT_TRUE(user.ok && user.name == u"root");
	EXPECT_FALSE(LookUp(UnixSid(1, unknown).data()).ok);
	EXPECT_TRUE(LookUp(UnixSid(2, 0).data()).ok);
	// A name longer than a slot, asked for again after another id.
	for (DWORD id : {longUid, unknown + 1, longUid})
		EXPECT_EQ(LookUp(UnixSid(1, id).data()).name, id == longUid ? std::u16string(300, u'n') : u"");
}

} // namespace
