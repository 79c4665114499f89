// The enumeration against the real /proc: fixture processes of known
// name, threads, descriptors and owner; processes starting and ending
// meanwhile; and a /proc that is no process file system.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "winapi.h"

namespace {

struct Listing {
	WTS_PROCESS_INFO_EXW *records = nullptr;
	DWORD count = 0;
};

Listing Enumerate(DWORD session = WTS_ANY_SESSION)
{
	Listing l;
	DWORD level = 1;
	BOOL ok = WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, session,
	                                   (LPWSTR *)&l.records, &l.count);
	EXPECT_TRUE(ok) << "error " << GetLastError();
	return l;
}

void Release(Listing &l)
{
	EXPECT_TRUE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, l.records, l.count));
	l.records = nullptr;
}

const WTS_PROCESS_INFO_EXW *Find(const Listing &l, pid_t pid)
{
	for (DWORD i = 0; i < l.count; i++)
		if (l.records[i].ProcessId == (DWORD)pid)
			return &l.records[i];
	return nullptr;
}

std::string SidText(PSID sid)
{
	LPWSTR text;
	if (!ConvertSidToStringSidW(sid, &text))
		return "-";
	std::string s;
	for (LPWSTR w = text; *w; w++)
		s += (char)*w;
	LocalFree(text);
	return s;
}

std::string UserSid(uid_t uid)
{
	return "S-1-22-1-" + std::to_string(uid);
}

// The block is one allocation: records back to back, then what they
// point to. Every record must be whole.
void CheckWellFormed(const Listing &l)
{
	const BYTE *base = (const BYTE *)l.records;
	const BYTE *end = base + malloc_usable_size(l.records);
	const BYTE *text = base + (size_t)l.count * sizeof(WTS_PROCESS_INFO_EXW);
	DWORD previous = 0;

	ASSERT_NE(l.records, nullptr);
	ASSERT_LE(text, end);
	for (DWORD i = 0; i < l.count; i++) {
		const WTS_PROCESS_INFO_EXW &r = l.records[i];
		ASSERT_GT(r.ProcessId, previous) << "pids out of order or repeated at record " << i;
		previous = r.ProcessId;
		const BYTE *name = (const BYTE *)r.pProcessName;
		ASSERT_TRUE(name >= text && name < end) << "name outside the block, pid " << r.ProcessId;
		ASSERT_EQ((uintptr_t)name % alignof(WCHAR), 0u);
		int length = 0;
		while (name + (length + 1) * sizeof(WCHAR) <= end && r.pProcessName[length] != 0)
			length++;
		ASSERT_LT(name + length * sizeof(WCHAR), end) << "name not terminated, pid " << r.ProcessId;
		EXPECT_GT(length, 0) << "empty name, pid " << r.ProcessId;
		for (int c = 0; c < length; c++) {
			WCHAR u = r.pProcessName[c];
			EXPECT_FALSE(u < 0x20 || (u >= 0x7F && u <= 0x9F)) << "control in name, pid " << r.ProcessId;
		}
		if (r.pUserSid != nullptr) {
			const BYTE *sid = (const BYTE *)r.pUserSid;
			ASSERT_TRUE(sid >= text && sid + 16 <= end) << "SID outside the block, pid " << r.ProcessId;
			ASSERT_EQ((uintptr_t)sid % alignof(DWORD), 0u);
			EXPECT_EQ(SidText(r.pUserSid).rfind("S-1-22-1-", 0), 0u) << "pid " << r.ProcessId;
		}
		EXPECT_GE(r.NumberOfThreads, 1u) << "pid " << r.ProcessId;
	}
}

// A fixture process that the test owns; it ends when its input is closed.
struct Child {
	pid_t pid = -1;
	int input = -1;
};

// Runs path (named argv0) with the fixture's arguments; with uids given
// (root only) as real uid ruid and effective uid euid; with prepare given,
// runs it in the child first and fails the start when it fails; with mode
// given, passes it as the fixture's third argument.
Child Start(const std::string &path, int threads, int fds, uid_t ruid = (uid_t)-1,
            uid_t euid = (uid_t)-1, bool (*prepare)() = nullptr, const char *mode = nullptr)
{
	Child c;
	int in[2], out[2];
	if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
		return c;
	std::string t = std::to_string(threads), f = std::to_string(fds);
	c.pid = fork();
	if (c.pid == 0) {
		dup2(in[0], 0);
		dup2(out[1], 1);
		if (prepare != nullptr && !prepare())
			_exit(125);
		if (ruid != (uid_t)-1 && setresuid(ruid, euid, 0) != 0)
			_exit(126);
		execl(path.c_str(), path.c_str(), t.c_str(), f.c_str(), mode, (char *)nullptr);
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	c.input = in[1];
	char ready[6];
	size_t got = 0;
	ssize_t n;
	while (got < sizeof ready && (n = read(out[0], ready + got, sizeof ready - got)) > 0)
		got += (size_t)n;
	close(out[0]);
	if (got != sizeof ready || memcmp(ready, "ready\n", 6) != 0) {
		close(c.input);
		waitpid(c.pid, nullptr, 0);
		c.pid = -1;
	}
	return c;
}

void Stop(Child &c)
{
	if (c.pid <= 0)
		return;
	close(c.input);
	int status = 0;
	waitpid(c.pid, &status, 0);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
	c.pid = -1;
}

// A scratch directory beside the fixture, where programs may run.
std::string ScratchDir()
{
	std::string fixture = PROCFIXTURE;
	std::string dir = fixture.substr(0, fixture.rfind('/')) + "/procnames.XXXXXX";
	std::vector<char> buffer(dir.begin(), dir.end());
	buffer.push_back(0);
	if (mkdtemp(buffer.data()) == nullptr)
		return "";
	return buffer.data();
}

// Copies the fixture to dir/name, executable.
std::string CopyFixture(const std::string &dir, const std::string &name)
{
	std::string path = dir + "/" + name;
	int from = open(PROCFIXTURE, O_RDONLY | O_CLOEXEC);
	int to = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
	char buffer[65536];
	ssize_t n;
	bool ok = from >= 0 && to >= 0;
	while (ok && (n = read(from, buffer, sizeof buffer)) > 0)
		ok = write(to, buffer, (size_t)n) == n;
	if (from >= 0)
		close(from);
	if (to >= 0)
		close(to);
	return ok ? path : "";
}

TEST(Enumeration, FixtureWithKnownShapeAndOwner)
{
	Child c = Start(PROCFIXTURE, 5, 7);
	ASSERT_GT(c.pid, 0);
	Listing l = Enumerate();
	CheckWellFormed(l);
	const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(std::u16string(r->pProcessName), u"procfixture");
	EXPECT_EQ(r->NumberOfThreads, 5u);
	EXPECT_EQ(r->HandleCount, 7u);
	EXPECT_EQ(SidText(r->pUserSid), UserSid(geteuid()));
	EXPECT_EQ(r->SessionId, (DWORD)getsid(c.pid));
	Release(l);
	Stop(c);
}

TEST(Enumeration, ShapesFollowTheProcess)
{
	// Different shapes, so that no fixed value can pass.
	const int shapes[][2] = {{1, 2}, {3, 40}, {17, 3}};
	for (const auto &shape : shapes) {
		Child c = Start(PROCFIXTURE, shape[0], shape[1]);
		ASSERT_GT(c.pid, 0);
		Listing l = Enumerate();
		const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
		ASSERT_NE(r, nullptr);
		EXPECT_EQ(r->NumberOfThreads, (DWORD)shape[0]);
		EXPECT_EQ(r->HandleCount, (DWORD)shape[1]);
		Release(l);
		Stop(c);
	}
}

TEST(Enumeration, OwnerIsTheEffectiveUid)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run a process with distinct real and effective uids";
	Child c = Start(PROCFIXTURE, 1, 3, 65534, 54321);
	ASSERT_GT(c.pid, 0);
	Listing l = Enumerate();
	const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(SidText(r->pUserSid), "S-1-22-1-54321");
	// Root sees the descriptors of every process.
	EXPECT_EQ(r->HandleCount, 3u);
	Release(l);
	Stop(c);
}

TEST(Enumeration, NamesWithControlsAndNonAscii)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	const struct {
		std::string file;
		std::u16string shown;
	} names[] = {
		{"tab\there\nand-lf", u"tab?here?and-lf"},
		{"прошка-✓", u"прошка-✓"},
		{"bad\xff" "byte", u"bad\uFFFDbyte"},
		{"c1\xc2\x85-next", u"c1?-next"},
		{"a name (with) parens", u"a name (with) parens"},
		{"back\\slash\\n", u"back\\slash\\n"},
	};
	for (const auto &n : names) {
		std::string path = CopyFixture(dir, n.file);
		ASSERT_NE(path, "");
		Child c = Start(path, 2, 4);
		ASSERT_GT(c.pid, 0);
		Listing l = Enumerate();
		CheckWellFormed(l);
		const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
		ASSERT_NE(r, nullptr);
		EXPECT_EQ(std::u16string(r->pProcessName), n.shown);
		EXPECT_EQ(r->NumberOfThreads, 2u);
		EXPECT_EQ(r->HandleCount, 4u);
		Release(l);
		Stop(c);
		unlink(path.c_str());
	}
	rmdir(dir.c_str());
}

// The state letter of a process, from its status file; 0 when unreadable.
char StateOf(pid_t pid)
{
	std::string path = "/proc/" + std::to_string(pid) + "/status";
	char text[4096];
	int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
	ssize_t n = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
	if (fd >= 0)
		close(fd);
	if (n <= 0)
		return 0;
	text[n] = 0;
	const char *state = strstr(text, "\nState:\t");
	return state == nullptr ? 0 : state[8];
}

TEST(Enumeration, ExitedLeaderAndTheDeletedMark)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// The leader has exited, its threads run on: their image and
	// descriptors are the process's. The name is longer than a task name.
	std::string path = CopyFixture(dir, "leader-gone-with-a-long-name");
	ASSERT_NE(path, "");
	Child c = Start(path, 4, 6, (uid_t)-1, (uid_t)-1, nullptr, "leader-exits");
	ASSERT_GT(c.pid, 0);
	for (int i = 0; i < 500 && StateOf(c.pid) != 'Z'; i++)
		usleep(10000);
	ASSERT_EQ(StateOf(c.pid), 'Z') << "the leader did not exit";
	Listing l = Enumerate();
	const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(std::u16string(r->pProcessName), u"leader-gone-with-a-long-name");
	EXPECT_EQ(r->NumberOfThreads, 4u);
	EXPECT_EQ(r->HandleCount, 6u);
	Release(l);
	Stop(c);
	unlink(path.c_str());

	// The kernel's mark goes only where the file is really gone; a name
	// may end in the same words.
	const struct {
		std::string file;
		bool removed;
		std::u16string shown;
	} names[] = {
		{"gone-soon", true, u"gone-soon"},
		{"kept (deleted)", false, u"kept (deleted)"},
		{"gone (deleted)", true, u"gone (deleted)"},
	};
	for (const auto &n : names) {
		path = CopyFixture(dir, n.file);
		ASSERT_NE(path, "");
		c = Start(path, 1, 2);
		ASSERT_GT(c.pid, 0);
		if (n.removed)
			unlink(path.c_str());
		l = Enumerate();
		r = Find(l, c.pid);
		ASSERT_NE(r, nullptr);
		EXPECT_EQ(std::u16string(r->pProcessName), n.shown);
		Release(l);
		Stop(c);
		unlink(path.c_str());
	}
	rmdir(dir.c_str());
}

TEST(Enumeration, TaskNameWhereThereIsNoImage)
{
	// Kernel threads have no executable; their task name stands instead.
	Listing l = Enumerate();
	int seen = 0;
	for (DWORD i = 0; i < l.count; i++) {
		std::string base = "/proc/" + std::to_string(l.records[i].ProcessId);
		char link[16];
		if (readlink((base + "/exe").c_str(), link, sizeof link) >= 0 || errno != ENOENT)
			continue;
		int fd = open((base + "/comm").c_str(), O_RDONLY);
		if (fd < 0)
			continue;
		char comm[128];
		ssize_t n = read(fd, comm, sizeof comm);
		close(fd);
		// A worker's task name follows the work it does; others keep theirs.
		if (n <= 1 || strncmp(comm, "kworker/", 8) == 0)
			continue;
		std::u16string expected(comm, comm + n - 1);
		bool ascii = true;
		for (char16_t ch : expected)
			ascii = ascii && ch >= 0x20 && ch < 0x7F;
		if (!ascii)
			continue;
		EXPECT_EQ(std::u16string(l.records[i].pProcessName), expected);
		seen++;
	}
	Release(l);
	if (seen == 0)
		GTEST_SKIP() << "no process without an image is visible here";
}

// Whether the kernel gives the number of descriptors as the size of the
// fd directory (Linux 6.2 and later), which any user may read.
bool CountsForEveryone()
{
	struct stat st;
	return stat("/proc/self/fd", &st) == 0 && st.st_size > 0;
}

// What an ordinary user sees of a root process of 3 threads and 5
// descriptors: its task name (the executable link is not theirs to read)
// and its descriptor count, which older kernels do not give them.
int ListAsNobody(pid_t rootChild, const std::u16string &taskName)
{
	if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
	    setresuid(65534, 65534, 65534) != 0)
		return 70;
	WTS_PROCESS_INFO_EXW *list = nullptr;
	DWORD count = 0, level = 1;
	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                              (LPWSTR *)&list, &count))
		return 71;
	int result = 0;
	const WTS_PROCESS_INFO_EXW *other = nullptr, *self = nullptr;
	for (DWORD i = 0; i < count; i++) {
		if (list[i].ProcessId == (DWORD)rootChild)
			other = &list[i];
		if (list[i].ProcessId == (DWORD)getpid())
			self = &list[i];
	}
	if (other == nullptr || self == nullptr)
		result = 72;
	else if (std::u16string(other->pProcessName) != taskName)
		result = 73;
	else if (other->HandleCount != (CountsForEveryone() ? 5u : 0u) || other->NumberOfThreads != 3)
		result = 74;
	else if (SidText(other->pUserSid) != "S-1-22-1-0")
		result = 75;
	else if (self->HandleCount < 3 || SidText(self->pUserSid) != "S-1-22-1-65534")
		result = 76;
	WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, list, count);
	return result;
}

TEST(Enumeration, OrdinaryUserSeesTaskNamesAndTheCountsTheKernelGives)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run a process of root's and list it as another user";
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// Longer than the 15 bytes a task name keeps.
	std::string path = CopyFixture(dir, "fixture-with-a-long-name");
	ASSERT_NE(path, "");
	Child c = Start(path, 3, 5);
	ASSERT_GT(c.pid, 0);
	pid_t lister = fork();
	if (lister == 0)
		_exit(ListAsNobody(c.pid, u"fixture-with-a-"));
	int status = 0;
	ASSERT_EQ(waitpid(lister, &status, 0), lister);
	EXPECT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0) << "see ListAsNobody for the failed check";
	// Root itself sees the whole name and the descriptors.
	Listing l = Enumerate();
	const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(std::u16string(r->pProcessName), u"fixture-with-a-long-name");
	EXPECT_EQ(r->HandleCount, 5u);
	Release(l);
	Stop(c);
	unlink(path.c_str());
	rmdir(dir.c_str());
}

TEST(Enumeration, TaskNamesAsTheKernelEscapesThem)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to list a root process as another user, who sees only its task name";
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// The task name keeps the first 15 bytes of the file name; the kernel
	// escapes a line feed and a backslash in it, nothing else.
	const struct {
		std::string file;
		std::u16string shown;
	} names[] = {
		{"t\tl\nb\\n\\\xc3\xa9\xe2\x9c\x93", u"t?l?b\\n\\\u00e9\u2713"},
		{"\\\\n-ends-in\\", u"\\\\n-ends-in\\"},
		{"abcdefghijklmn\xe2\x9c\x93", u"abcdefghijklmn\uFFFD"},
		{"bad\xff\\x", u"bad\uFFFD\\x"},
	};
	for (const auto &n : names) {
		std::string path = CopyFixture(dir, n.file);
		ASSERT_NE(path, "");
		Child c = Start(path, 3, 5);
		ASSERT_GT(c.pid, 0);
		pid_t lister = fork();
		if (lister == 0)
			_exit(ListAsNobody(c.pid, n.shown));
		int status = 0;
		ASSERT_EQ(waitpid(lister, &status, 0), lister);
		EXPECT_TRUE(WIFEXITED(status));
		EXPECT_EQ(WEXITSTATUS(status), 0) << "see ListAsNobody for the failed check; file " << n.file;
		Stop(c);
		unlink(path.c_str());
	}
	rmdir(dir.c_str());
}

bool NewSession()
{
	return setsid() > 0;
}

bool NewProcessGroup()
{
	return setpgid(0, 0) == 0;
}

TEST(Enumeration, SessionNotProcessGroup)
{
	// A group of its own in this session, then a session of its own.
	Child c = Start(PROCFIXTURE, 2, 3, (uid_t)-1, (uid_t)-1, NewProcessGroup);
	ASSERT_GT(c.pid, 0);
	ASSERT_EQ(getpgid(c.pid), c.pid);
	ASSERT_NE(getsid(0), c.pid);
	Listing l = Enumerate();
	const WTS_PROCESS_INFO_EXW *r = Find(l, c.pid);
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r->SessionId, (DWORD)getsid(0));
	Release(l);
	Stop(c);

	c = Start(PROCFIXTURE, 2, 3, (uid_t)-1, (uid_t)-1, NewSession);
	ASSERT_GT(c.pid, 0);
	ASSERT_EQ(getsid(c.pid), c.pid);
	Listing only = Enumerate((DWORD)c.pid);
	ASSERT_EQ(only.count, 1u);
	EXPECT_EQ(only.records[0].ProcessId, (DWORD)c.pid);
	EXPECT_EQ(only.records[0].SessionId, (DWORD)c.pid);
	EXPECT_EQ(std::u16string(only.records[0].pProcessName), u"procfixture");
	EXPECT_EQ(only.records[0].NumberOfThreads, 2u);
	Release(only);
	Stop(c);
}

TEST(Enumeration, OwnProcessAndSessions)
{
	Listing l = Enumerate();
	CheckWellFormed(l);
	const WTS_PROCESS_INFO_EXW *self = Find(l, getpid());
	ASSERT_NE(self, nullptr);
	char exe[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
	ASSERT_GT(n, 0);
	std::string path(exe, (size_t)n);
	std::string base = path.substr(path.rfind('/') + 1);
	EXPECT_EQ(std::u16string(self->pProcessName), std::u16string(base.begin(), base.end()));
	EXPECT_EQ(SidText(self->pUserSid), UserSid(geteuid()));
	EXPECT_EQ(self->SessionId, (DWORD)getsid(0));
	EXPECT_GE(self->HandleCount, 3u);
	// Pid 1 is there, whatever else comes and goes.
	EXPECT_NE(Find(l, 1), nullptr);
	EXPECT_NE(Find(l, getppid()), nullptr);
	Release(l);

	// One session only: this one.
	Listing mine = Enumerate((DWORD)getsid(0));
	CheckWellFormed(mine);
	EXPECT_NE(Find(mine, getpid()), nullptr);
	for (DWORD i = 0; i < mine.count; i++)
		EXPECT_EQ(mine.records[i].SessionId, (DWORD)getsid(0));
	Release(mine);

	// A session nobody is in: an empty list, still a list.
	Listing none = Enumerate(0x7FFFFFF0);
	EXPECT_EQ(none.count, 0u);
	EXPECT_NE(none.records, nullptr);
	Release(none);
}

TEST(Enumeration, AgreesWithProcOnStableProcesses)
{
	// Each pid listed in /proc before and after the call is in the list.
	std::vector<pid_t> before;
	DIR *d = opendir("/proc");
	ASSERT_NE(d, nullptr);
	for (struct dirent *e; (e = readdir(d)) != nullptr;)
		if (e->d_name[0] >= '1' && e->d_name[0] <= '9')
			before.push_back(atoi(e->d_name));
	closedir(d);
	Listing l = Enumerate();
	for (pid_t pid : before) {
		if (kill(pid, 0) != 0 && errno == ESRCH)
			continue;
		EXPECT_NE(Find(l, pid), nullptr) << "pid " << pid;
	}
	for (DWORD i = 0; i < l.count; i++) {
		// Only thread group leaders: no pid of a mere thread.
		std::string status = "/proc/" + std::to_string(l.records[i].ProcessId) + "/status";
		int fd = open(status.c_str(), O_RDONLY);
		if (fd < 0)
			continue;
		char text[4096];
		ssize_t n = read(fd, text, sizeof text - 1);
		close(fd);
		if (n <= 0)
			continue;
		text[n] = 0;
		const char *tgid = strstr(text, "\nTgid:");
		ASSERT_NE(tgid, nullptr);
		EXPECT_EQ((DWORD)atoi(tgid + 6), l.records[i].ProcessId);
	}
	Release(l);
}

TEST(Enumeration, WellFormedWhileProcessesComeAndGo)
{
	std::atomic<bool> stop(false);
	std::atomic<int> started(0);
	std::thread churn([&] {
		while (!stop) {
			pid_t pid = fork();
			if (pid == 0)
				_exit(0);
			if (pid > 0) {
				started++;
				waitpid(pid, nullptr, 0);
			}
		}
	});
	for (int i = 0; i < 50; i++) {
		Listing l = Enumerate();
		CheckWellFormed(l);
		ASSERT_NE(Find(l, getpid()), nullptr);
		Release(l);
		if (HasFatalFailure())
			break;
	}
	stop = true;
	churn.join();
	EXPECT_GT(started.load(), 0);
}

TEST(Enumeration, BadRequestsFailAndTouchNothing)
{
	WTS_PROCESS_INFO_EXW *list = (WTS_PROCESS_INFO_EXW *)0x1;
	DWORD count = 77, level = 0;
	SetLastError(0);
	EXPECT_FALSE(WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                                      (LPWSTR *)&list, &count));
	EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
	level = 2;
	EXPECT_FALSE(WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                                      (LPWSTR *)&list, &count));
	level = 1;
	SetLastError(0);
	EXPECT_FALSE(WTSEnumerateProcessesExW((HANDLE)&level, &level, WTS_ANY_SESSION,
	                                      (LPWSTR *)&list, &count));
	EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
	EXPECT_FALSE(WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, nullptr, WTS_ANY_SESSION,
	                                      (LPWSTR *)&list, &count));
	EXPECT_FALSE(WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                                      nullptr, &count));
	EXPECT_FALSE(WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                                      (LPWSTR *)&list, nullptr));
	EXPECT_EQ(list, (WTS_PROCESS_INFO_EXW *)0x1);
	EXPECT_EQ(count, 77u);
	EXPECT_EQ(level, 1u);
}

TEST(Release, NullBaseAndWrongClass)
{
	SetLastError(0);
	EXPECT_TRUE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, nullptr, 0));
	EXPECT_TRUE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel0, nullptr, 5));
	EXPECT_EQ(GetLastError(), 0u);

	Listing l = Enumerate();
	SetLastError(0);
	EXPECT_FALSE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel0, l.records, l.count));
	EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
	EXPECT_FALSE(WTSFreeMemoryExW(WTSTypeSessionInfoLevel1, l.records, l.count));
	// Still ours after the refusals: the sanitizer would see a double free.
	EXPECT_GT(l.records[0].ProcessId, 0u);
	Release(l);
}

// Runs body in a child with a private mount namespace; returns its exit
// status, or -1 with the reason when the namespace cannot be had.
int InPrivateMounts(int (*body)(), std::string *why)
{
	int report[2];
	if (pipe2(report, O_CLOEXEC) != 0)
		return -1;
	pid_t pid = fork();
	if (pid == 0) {
		close(report[0]);
		if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
			int e = errno;
			ssize_t ignored = write(report[1], &e, sizeof e);
			(void)ignored;
			_exit(100);
		}
		_exit(body());
	}
	close(report[1]);
	int e = 0, status = 0;
	ssize_t n = read(report[0], &e, sizeof e);
	close(report[0]);
	waitpid(pid, &status, 0);
	if (n == sizeof e) {
		*why = std::string("no private mount namespace here: ") + strerror(e);
		return -1;
	}
	return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Exit codes of the bodies: 0 when all held, else which check failed.
int ExpectNoProcessTable()
{
	WTS_PROCESS_INFO_EXW *list = (WTS_PROCESS_INFO_EXW *)0x1;
	DWORD count = 77, level = 1;
	SetLastError(0);
	if (WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                             (LPWSTR *)&list, &count))
		return 1;
	if (GetLastError() != ENOENT)
		return 2;
	if (list != (WTS_PROCESS_INFO_EXW *)0x1 || count != 77)
		return 3;
	return 0;
}

int EmptyTmpfsOnProc()
{
	if (mount("tmpfs", "/proc", "tmpfs", 0, nullptr) != 0)
		return 50;
	return ExpectNoProcessTable();
}

// A directory that looks like /proc but is not one.
int LookalikeTmpfsOnProc()
{
	if (mount("tmpfs", "/proc", "tmpfs", 0, nullptr) != 0)
		return 50;
	std::string self = std::to_string(getpid());
	if (mkdir(("/proc/" + self).c_str(), 0555) != 0 || symlink(self.c_str(), "/proc/self") != 0)
		return 51;
	int fd = open(("/proc/" + self + "/status").c_str(), O_WRONLY | O_CREAT, 0444);
	if (fd < 0 || write(fd, "Uid:\t0\t0\t0\t0\nThreads:\t1\n", 24) != 24)
		return 52;
	close(fd);
	return ExpectNoProcessTable();
}

// /proc of a pid namespace this process is not in: it has no /proc/self.
int ProcOfAnotherPidNamespace()
{
	if (unshare(CLONE_NEWPID) != 0)
		return 60;
	pid_t inner = fork();
	if (inner == 0) {
		// The first process of the new namespace mounts its /proc and,
		// alone in it, lists itself as pid 1.
		if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
			_exit(61);
		WTS_PROCESS_INFO_EXW *list = nullptr;
		DWORD count = 0, level = 1;
		if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
		                              (LPWSTR *)&list, &count))
			_exit(62);
		bool alone = count == 1 && list[0].ProcessId == 1;
		WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, list, count);
		_exit(alone ? 0 : 63);
	}
	int status = 0;
	if (inner < 0 || waitpid(inner, &status, 0) != inner)
		return 64;
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		return WIFEXITED(status) ? WEXITSTATUS(status) : 65;
	return ExpectNoProcessTable();
}

TEST(Enumeration, FailsWhereProcIsNoProcessFileSystem)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root for a private mount namespace with its own /proc";
	const struct {
		const char *what;
		int (*body)();
	} cases[] = {
		{"empty tmpfs", EmptyTmpfsOnProc},
		{"tmpfs dressed as /proc", LookalikeTmpfsOnProc},
		{"/proc of another pid namespace", ProcOfAnotherPidNamespace},
	};
	for (const auto &c : cases) {
		std::string why;
		int status = InPrivateMounts(c.body, &why);
		if (status < 0)
			GTEST_SKIP() << why;
		EXPECT_EQ(status, 0) << c.what;
	}
}

} // namespace
