// The account database is asked once per id per run, found or not: this
// program stands in front of the C library's lookups and counts them.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <grp.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <thread>
#include <vector>

#include "services.h"

namespace {

std::mutex countLock;
// A name service module may ask the C library again from inside a query;
// only the calls from outside count.
thread_local int depth;
std::map<uid_t, int> userQueries;
std::map<gid_t, int> groupQueries;

int UserQueries(uid_t uid)
{
	std::lock_guard<std::mutex> hold(countLock);
	return userQueries[uid];
}

int GroupQueries(gid_t gid)
{
	std::lock_guard<std::mutex> hold(countLock);
	return groupQueries[gid];
}

} // namespace

extern "C" int getpwuid_r(uid_t uid, struct passwd *pwd, char *buf, size_t buflen,
                          struct passwd **result)
{
	typedef int (*Real)(uid_t, struct passwd *, char *, size_t, struct passwd **);
	static Real real = (Real)dlsym(RTLD_NEXT, "getpwuid_r");
	if (depth == 0) {
		std::lock_guard<std::mutex> hold(countLock);
		userQueries[uid]++;
	}
	depth++;
	int rc = real(uid, pwd, buf, buflen, result);
	depth--;
	return rc;
}

extern "C" int getgrgid_r(gid_t gid, struct group *grp, char *buf, size_t buflen,
                          struct group **result)
{
	typedef int (*Real)(gid_t, struct group *, char *, size_t, struct group **);
	static Real real = (Real)dlsym(RTLD_NEXT, "getgrgid_r");
	if (depth == 0) {
		std::lock_guard<std::mutex> hold(countLock);
		groupQueries[gid]++;
	}
	depth++;
	int rc = real(gid, grp, buf, buflen, result);
	depth--;
	return rc;
}

namespace {

BOOL LookUp(DWORD kind, DWORD id, std::u16string *name)
{
	DWORD sid[4];
	BYTE *b = (BYTE *)sid;
	const BYTE authority[6] = {0, 0, 0, 0, 0, 22};
	b[0] = 1;
	b[1] = 2;
	memcpy(b + 2, authority, 6);
	sid[2] = kind;
	sid[3] = id;
	WCHAR account[1024], domain[1024];
	DWORD accountLen = 1024, domainLen = 1024;
	SID_NAME_USE use;
	BOOL ok = LookupAccountSidW(nullptr, sid, account, &accountLen, domain, &domainLen, &use);
	if (ok && name != nullptr)
		name->assign(account, accountLen);
	return ok;
}

TEST(AccountCache, KnownIdsAskedOnce)
{
	std::u16string first, again;
	ASSERT_TRUE(LookUp(1, 0, &first));
	for (int i = 0; i < 100; i++) {
		ASSERT_TRUE(LookUp(1, 0, &again));
		EXPECT_EQ(again, first);
	}
	EXPECT_EQ(UserQueries(0), 1);
	for (int i = 0; i < 100; i++)
		ASSERT_TRUE(LookUp(2, 0, nullptr));
	EXPECT_EQ(GroupQueries(0), 1);
}

TEST(AccountCache, UnknownIdsAskedOnceToo)
{
	for (int i = 0; i < 50; i++) {
		EXPECT_FALSE(LookUp(1, 4000000001u, nullptr));
		EXPECT_FALSE(LookUp(2, 4000000001u, nullptr));
	}
	EXPECT_EQ(UserQueries(4000000001u), 1);
	EXPECT_EQ(GroupQueries(4000000001u), 1);
}

TEST(AccountCache, UsersAndGroupsAreApart)
{
	// uid 4000000002 unknown, gid 0 known: neither answer leaks to the other.
	EXPECT_FALSE(LookUp(1, 4000000002u, nullptr));
	EXPECT_TRUE(LookUp(2, 0, nullptr));
	EXPECT_FALSE(LookUp(1, 4000000002u, nullptr));
	EXPECT_EQ(UserQueries(4000000002u), 1);
}

TEST(AccountCache, ManyIdsAndThreadsStayCorrect)
{
	// More ids than the cache holds: answers stay right; ids it holds are
	// asked once even when threads race for them.
	std::vector<std::thread> threads;
	for (int t = 0; t < 4; t++)
		threads.emplace_back([] {
			for (DWORD id = 3000000000u; id < 3000003000u; id++)
				EXPECT_FALSE(LookUp(1, id, nullptr));
		});
	for (std::thread &t : threads)
		t.join();
	EXPECT_EQ(UserQueries(3000000000u), 1);
	std::u16string name;
	ASSERT_TRUE(LookUp(1, 0, &name));
	EXPECT_EQ(name, u"root");
	EXPECT_EQ(UserQueries(0), 1);
}

} // namespace
