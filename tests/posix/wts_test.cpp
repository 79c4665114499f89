// The enumeration against the real /proc: fixture processes of known
// name, threads, descriptors and owner; processes starting and ending
// meanwhile; a /proc that is no process file system; and what no process
// may do to the table (stall it, thin it out, hide its descriptors).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
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

#include "mounts.h"
#include "run.h"
#include "sids.h"
#include "silentfs.h"
#include "table.h"
#include "text.h"
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
		if (r.pUserSid != nullptr) {
			const BYTE *sid = (const BYTE *)r.pUserSid;
			ASSERT_TRUE(sid >= text && sid + 16 <= end) << "SID outside the block, pid " << r.ProcessId;
			ASSERT_EQ((uintptr_t)sid % alignof(DWORD), 0u);
			EXPECT_EQ(SidText(r.pUserSid).rfind("S-1-22-1-", 0), 0u) << "pid " << r.ProcessId;
		}
		EXPECT_GE(r.NumberOfThreads, 1u) << "pid " << r.ProcessId;
	}
}

// What the enumeration shows of one process, copied out of a well-formed
// list; found is false when the process is not in it.
struct Seen {
	bool found = false;
	std::u16string name;
	DWORD threads = 0, handles = 0, session = 0;
	std::string sid;
};

Seen Look(pid_t pid, DWORD session = WTS_ANY_SESSION)
{
	Seen s;
	Listing l = Enumerate(session);
	CheckWellFormed(l);
	const WTS_PROCESS_INFO_EXW *r = Find(l, pid);
	if (r != nullptr)
		s = {true, r->pProcessName, r->NumberOfThreads, r->HandleCount, r->SessionId, SidText(r->pUserSid)};
	Release(l);
	return s;
}

// A fixture process that the test owns, once it has said "ready"; it ends
// when its input is closed. Runs path with the fixture's arguments; with
// prepare given, runs it in the child first and fails the start when it
// fails; with mode given, passes it as the fixture's third argument.
Background Start(const std::string &path, int threads, int fds, bool (*prepare)() = nullptr,
                 const char *mode = nullptr)
{
	std::vector<std::string> argv = {path, std::to_string(threads), std::to_string(fds)};
	if (mode != nullptr)
		argv.push_back(mode);
	Background c = StartBackground(argv, prepare);
	if (c.pid > 0 && ReadUntil(c, "\n") != "ready\n")
		Finish(c);
	return c;
}

void Stop(Background &c)
{
	EXPECT_EQ(Finish(c), 0);
}

// A scratch directory beside the fixture, where copies of it may run; the
// test removes it with RemoveAll.
std::string ScratchDir()
{
	std::string fixture = PROCFIXTURE;
	std::string dir = fixture.substr(0, fixture.rfind('/')) + "/procnames.XXXXXX";
	return mkdtemp(&dir[0]) != nullptr ? dir : "";
}

void RemoveAll(const std::string &dir)
{
	Shell("rm -rf " + Quote(dir));
}

// Starts a copy of the fixture named dir/name.
Background StartCopy(const std::string &dir, const std::string &name, int threads, int fds,
                     const char *mode = nullptr)
{
	std::string path = dir + "/" + name;
	return CopyExecutable(PROCFIXTURE, path) ? Start(path, threads, fds, nullptr, mode) : Background();
}

// Runs body in a child process; its exit status, or 128 and the signal
// that ended it, or -1 when it could not be run.
template <typename Body>
int InChild(Body body)
{
	pid_t pid = fork();
	if (pid == 0)
		_exit(body());
	int status = 0;
	if (pid < 0 || waitpid(pid, &status, 0) != pid)
		return -1;
	return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// InChild, in a private mount namespace of the child's own; 100 where none
// can be had.
template <typename Body>
int InPrivateMounts(Body body)
{
	return InChild([&] {
		if (const char *failed = EnterPrivateMounts()) {
			fprintf(stderr, "%s: %s\n", failed, strerror(errno));
			return 100;
		}
		return body();
	});
}

TEST(Enumeration, FixturesOfKnownShapeAndOwner)
{
	// Different shapes, so that no fixed value can pass.
	const int shapes[][2] = {{5, 7}, {1, 4}, {3, 40}, {17, 3}};
	for (const auto &shape : shapes) {
		Background c = Start(PROCFIXTURE, shape[0], shape[1]);
		ASSERT_GT(c.pid, 0);
		Seen s = Look(c.pid);
		EXPECT_TRUE(s.found);
		EXPECT_EQ(s.name, u"procfixture");
		EXPECT_EQ(s.threads, (DWORD)shape[0]);
		EXPECT_EQ(s.handles, (DWORD)shape[1]);
		EXPECT_EQ(s.sid, "S-1-22-1-" + std::to_string(geteuid()));
		// Every session asked for: none is read.
		EXPECT_EQ(s.session, 0u);
		EXPECT_EQ(Look(c.pid, (DWORD)getsid(c.pid)).session, (DWORD)getsid(c.pid));
		Stop(c);
	}
}

TEST(Enumeration, OwnerIsTheEffectiveUid)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run a process with distinct real and effective uids";
	// From a folder the other uid may enter, which the checkout's may not
	// be (a clone in /root).
	char dir[] = "/tmp/procfixture.XXXXXX";
	ASSERT_TRUE(mkdtemp(dir) != nullptr && chmod(dir, 0755) == 0);
	std::string copy = std::string(dir) + "/procfixture";
	ASSERT_TRUE(CopyExecutable(PROCFIXTURE, copy));
	Background c = Start(copy, 1, 3, [] { return setresuid(65534, 54321, 0) == 0; });
	ASSERT_GT(c.pid, 0);
	Seen s = Look(c.pid);
	EXPECT_EQ(s.sid, "S-1-22-1-54321");
	// Root sees the descriptors of every process.
	EXPECT_EQ(s.handles, 3u);
	Stop(c);
	RemoveAll(dir);
}

TEST(Enumeration, NamesAsTheFileHasThem)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// The kernel's mark goes only where the file is really gone; a name may
	// end in the same words.
	const struct {
		std::string file;
		bool removed;
		std::u16string shown;
	} names[] = {
		{"a name (with) parens", false, u"a name (with) parens"},
		{"back\\slash\\n-\xc3\xa9\xe2\x9c\x93", false, u"back\\slash\\n-\u00e9\u2713"},
		{"gone-soon", true, u"gone-soon"},
		{"kept (deleted)", false, u"kept (deleted)"},
		{"gone (deleted)", true, u"gone (deleted)"},
	};
	for (const auto &n : names) {
		Background c = StartCopy(dir, n.file, 2, 4);
		ASSERT_GT(c.pid, 0) << n.file;
		if (n.removed)
			unlink((dir + "/" + n.file).c_str());
		Seen s = Look(c.pid);
		EXPECT_EQ(s.name, n.shown);
		EXPECT_EQ(s.threads, 2u);
		EXPECT_EQ(s.handles, 4u);
		Stop(c);
	}
	RemoveAll(dir);
}

// A field of a process's status file; empty when there is none.
std::string StatusField(pid_t pid, const std::string &field)
{
	std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
	size_t at = status.find("\n" + field + ":\t");
	if (at == std::string::npos)
		return "";
	at += field.size() + 3;
	return status.substr(at, status.find('\n', at) - at);
}

TEST(Enumeration, ThreadsRunOnAfterTheLeaderExits)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// Their image and descriptors are the process's. The name is longer
	// than a task name.
	Background c = StartCopy(dir, "leader-gone-with-a-long-name", 4, 6, "leader-exits");
	ASSERT_GT(c.pid, 0);
	for (int i = 0; i < 500 && StatusField(c.pid, "State")[0] != 'Z'; i++)
		usleep(10000);
	ASSERT_EQ(StatusField(c.pid, "State")[0], 'Z') << "the leader did not exit";
	Seen s = Look(c.pid);
	EXPECT_EQ(s.name, u"leader-gone-with-a-long-name");
	EXPECT_EQ(s.threads, 4u);
	EXPECT_EQ(s.handles, 6u);
	Stop(c);
	RemoveAll(dir);
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
		std::string comm = ReadFile(base + "/comm");
		// A worker's task name follows the work it does; others keep theirs.
		// A process that has ended since (a zombie now) had its image then.
		std::string stat = ReadFile(base + "/stat");
		size_t state = stat.rfind(") ");
		if (comm.size() <= 1 || comm.rfind("kworker/", 0) == 0 || state == std::string::npos ||
		    stat.compare(state + 2, 1, "Z") == 0 || stat.compare(state + 2, 1, "X") == 0)
			continue;
		std::u16string expected(comm.begin(), comm.end() - 1);
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
// and its descriptor count, which older kernels do not give them. Runs in
// a child; 0 when all held, else which check failed.
int ListAsNobody(pid_t rootChild, const std::u16string &taskName)
{
	if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
	    setresuid(65534, 65534, 65534) != 0)
		return 70;
	const testing::TestResult *result = testing::UnitTest::GetInstance()->current_test_info()->result();
	int failures = result->total_part_count();
	Seen other = Look(rootChild), self = Look(getpid());
	if (result->total_part_count() != failures)
		return 71;
	if (!other.found || !self.found)
		return 72;
	if (other.name != taskName)
		return 73;
	if (other.handles != (CountsForEveryone() ? 5u : 0u) || other.threads != 3)
		return 74;
	if (other.sid != "S-1-22-1-0")
		return 75;
	if (self.handles < 3 || self.sid != "S-1-22-1-65534")
		return 76;
	return 0;
}

TEST(Enumeration, OrdinaryUserSeesTaskNamesAsTheKernelEscapesThem)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to list a root process as another user, who sees only its task name";
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// The task name keeps the first 15 bytes of the file name, as comm
	// gives it (status would escape a backslash). Root sees the whole name.
	const struct {
		std::string file;
		std::u16string task, whole;
	} names[] = {
		{"fixture-with-a-long-name", u"fixture-with-a-", u"fixture-with-a-long-name"},
		{"b\\n\\\xc3\xa9\xe2\x9c\x93", u"b\\n\\\u00e9\u2713", u"b\\n\\\u00e9\u2713"},
		{"\\\\n-ends-in\\", u"\\\\n-ends-in\\", u"\\\\n-ends-in\\"},
		{"abcdefghijklmn\xe2\x9c\x93", u"abcdefghijklmn\uFFFD", u"abcdefghijklmn\u2713"},
		{"bad\xff\\x", u"bad\uFFFD\\x", u"bad\uFFFD\\x"},
	};
	for (const auto &n : names) {
		Background c = StartCopy(dir, n.file, 3, 5);
		ASSERT_GT(c.pid, 0) << n.file;
		EXPECT_EQ(InChild([&] { return ListAsNobody(c.pid, n.task); }), 0)
			<< "see ListAsNobody for the failed check; file " << n.file;
		Seen s = Look(c.pid);
		EXPECT_EQ(s.name, n.whole);
		EXPECT_EQ(s.handles, 5u);
		Stop(c);
	}
	RemoveAll(dir);
}

TEST(Enumeration, SessionNotProcessGroup)
{
	// A group of its own in this session, then a session of its own.
	Background c = Start(PROCFIXTURE, 2, 3, [] { return setpgid(0, 0) == 0; });
	ASSERT_GT(c.pid, 0);
	ASSERT_EQ(getpgid(c.pid), c.pid);
	ASSERT_NE(getsid(0), c.pid);
	EXPECT_TRUE(Look(c.pid, (DWORD)getsid(0)).found);
	Stop(c);

	c = Start(PROCFIXTURE, 2, 3, [] { return setsid() > 0; });
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
	Seen self = Look(getpid());
	char exe[PATH_MAX] = {0};
	ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
	std::string base = strrchr(exe, '/') + 1;
	EXPECT_EQ(self.name, std::u16string(base.begin(), base.end()));
	EXPECT_EQ(self.sid, "S-1-22-1-" + std::to_string(geteuid()));
	EXPECT_EQ(self.session, 0u);
	EXPECT_GE(self.handles, 3u);
	// Pid 1 is there, whatever else comes and goes.
	EXPECT_TRUE(Look(1).found);
	EXPECT_TRUE(Look(getppid()).found);

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

// The pids in /proc.
std::vector<pid_t> ProcPids()
{
	std::vector<pid_t> pids;
	DIR *d = opendir("/proc");
	for (struct dirent *e; d != nullptr && (e = readdir(d)) != nullptr;)
		if (e->d_name[0] >= '1' && e->d_name[0] <= '9')
			pids.push_back(atoi(e->d_name));
	if (d != nullptr)
		closedir(d);
	return pids;
}

TEST(Enumeration, AgreesWithProcOnStableProcesses)
{
	// Each pid listed in /proc before and after the call is in the list.
	std::vector<pid_t> before = ProcPids();
	ASSERT_FALSE(before.empty());
	Listing l = Enumerate();
	for (pid_t pid : before) {
		if (kill(pid, 0) != 0 && errno == ESRCH)
			continue;
		EXPECT_NE(Find(l, pid), nullptr) << "pid " << pid;
	}
	for (DWORD i = 0; i < l.count; i++) {
		// Only thread group leaders: no pid of a mere thread.
		std::string tgid = StatusField((pid_t)l.records[i].ProcessId, "Tgid");
		EXPECT_TRUE(tgid.empty() || tgid == std::to_string(l.records[i].ProcessId)) << tgid;
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

// The error of an enumeration refused with the list and the count left as
// they were; 0 for any other outcome. withList and withCount false pass
// null for them; session is the one asked for.
DWORD Refused(HANDLE server, DWORD *level, bool withList = true, bool withCount = true,
              DWORD session = WTS_ANY_SESSION)
{
	WTS_PROCESS_INFO_EXW *list = (WTS_PROCESS_INFO_EXW *)0x1;
	DWORD count = 77;
	SetLastError(0);
	if (WTSEnumerateProcessesExW(server, level, session, withList ? (LPWSTR *)&list : nullptr,
	                             withCount ? &count : nullptr)) {
		WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, list, count);
		return 0;
	}
	return list == (WTS_PROCESS_INFO_EXW *)0x1 && count == 77 ? GetLastError() : 0;
}

TEST(Enumeration, BadRequestsFailAndTouchNothing)
{
	DWORD level = 0;
	EXPECT_EQ(Refused(WTS_CURRENT_SERVER_HANDLE, &level), (DWORD)EINVAL);
	level = 2;
	EXPECT_EQ(Refused(WTS_CURRENT_SERVER_HANDLE, &level), (DWORD)EINVAL);
	level = 1;
	EXPECT_EQ(Refused((HANDLE)&level, &level), (DWORD)EINVAL);
	EXPECT_EQ(Refused(WTS_CURRENT_SERVER_HANDLE, nullptr), (DWORD)EINVAL);
	EXPECT_EQ(Refused(WTS_CURRENT_SERVER_HANDLE, &level, false), (DWORD)EINVAL);
	EXPECT_EQ(Refused(WTS_CURRENT_SERVER_HANDLE, &level, true, false), (DWORD)EINVAL);
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

// Exit codes of the bodies: 0 when all held, else which check failed.
int ExpectNoProcessTable()
{
	DWORD level = 1;
	return Refused(WTS_CURRENT_SERVER_HANDLE, &level) == ENOENT ? 0 : 1;
}

// A directory that looks like /proc but is not one. (An empty tmpfs is the
// console suite's: both programs report its "not found".)
int LookalikeTmpfsOnProc()
{
	if (mount("tmpfs", "/proc", "tmpfs", 0, nullptr) != 0)
		return 50;
	std::string self = std::to_string(getpid());
	if (mkdir(("/proc/" + self).c_str(), 0555) != 0 || mkdir(("/proc/" + self + "/task").c_str(), 0555) != 0 ||
	    symlink(self.c_str(), "/proc/self") != 0)
		return 51;
	return ExpectNoProcessTable();
}

// The first process of a new pid namespace mounts its /proc and, alone in
// it, lists itself as pid 1.
int InnerProcOfItsOwn()
{
	if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
		return 61;
	WTS_PROCESS_INFO_EXW *list = nullptr;
	DWORD count = 0, level = 1;
	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                              (LPWSTR *)&list, &count))
		return 62;
	bool alone = count == 1 && list[0].ProcessId == 1;
	WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, list, count);
	return alone ? 0 : 63;
}

// /proc of a pid namespace this process is not in: it has no /proc/self.
int ProcOfAnotherPidNamespace()
{
	if (unshare(CLONE_NEWPID) != 0)
		return 60;
	int status = InChild(InnerProcOfItsOwn);
	if (status != 0)
		return status < 0 ? 64 : status;
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
		{"tmpfs dressed as /proc", LookalikeTmpfsOnProc},
		{"/proc of another pid namespace", ProcOfAnotherPidNamespace},
	};
	for (const auto &c : cases) {
		int status = InPrivateMounts([&] { return c.body(); });
		if (status == 100)
			GTEST_SKIP() << "no private mount namespace here";
		EXPECT_EQ(status, 0) << c.what;
	}
}

// One process of a list got straight from the layer, for children where a
// failed expectation would not reach the test: 0 when it is there, 1 when
// the call failed, 2 when the process is not listed.
int RawLook(pid_t pid, DWORD *handles, DWORD *threads)
{
	WTS_PROCESS_INFO_EXW *list = nullptr;
	DWORD count = 0, level = 1;
	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION, (LPWSTR *)&list,
	                              &count))
		return 1;
	int result = 2;
	for (DWORD i = 0; i < count; i++)
		if (list[i].ProcessId == (DWORD)pid) {
			*handles = list[i].HandleCount;
			*threads = list[i].NumberOfThreads;
			result = 0;
		}
	WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, list, count);
	return result;
}

// A deleted image whose folder a file system that never answers now
// covers: the link's text names a path in it. Both programs end, and the
// row is there with the mark dropped.
int SilentFsOverADeletedImage(const std::string &dir)
{
	Background c = StartCopy(dir, "silent-below", 2, 4);
	if (c.pid <= 0 || unlink((dir + "/silent-below").c_str()) != 0)
		return 20;
	const std::string pid = std::to_string(c.pid);
	// A program held by the server outlives its kill at the timeout until
	// the server's own end frees it.
	pid_t server = MountSilentFs(dir.c_str(), 30);
	if (server < 0) {
		int noFuse = errno == ENOENT || errno == ENODEV;
		Finish(c);
		return noFuse ? 101 : 21;
	}
	RunResult table = RunProgram({OWNERROLL}, {.timeoutSeconds = 10});
	RunResult probe = RunProgram({TASKROLL}, {.timeoutSeconds = 10});
	EndSilentFs(server, dir.c_str());
	Finish(c);
	std::vector<TableRow> rows;
	if (table.timedOut || probe.timedOut)
		return 22;
	if (probe.status != 0 || ParseTable(table.out, &rows) != "")
		return 23;
	for (const TableRow &r : rows)
		if (r.pid == pid)
			return r.name == "silent-below" && r.handles == "4" && r.threads == "2" ? 0 : 24;
	return 25;
}

// The first process of a new pid namespace over the parent's /proc: every
// pid /proc holds before and after is listed; a session filter, which
// getsid would answer in other numbers, is refused.
int ParentsProcSeenFromANewNamespace()
{
	std::vector<pid_t> before = ProcPids();
	WTS_PROCESS_INFO_EXW *list = nullptr;
	DWORD count = 0, level = 1, dummy = 0;
	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION, (LPWSTR *)&list,
	                              &count))
		return 30;
	std::vector<pid_t> after = ProcPids();
	int missing = 0;
	for (pid_t pid : before) {
		bool listed = false, stays = std::find(after.begin(), after.end(), pid) != after.end();
		for (DWORD i = 0; i < count; i++)
			listed = listed || list[i].ProcessId == (DWORD)pid;
		missing += stays && !listed;
	}
	WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, list, count);
	if (missing > 0 || before.size() < 2)
		return 31;
	return Refused(WTS_CURRENT_SERVER_HANDLE, &level, true, true, (DWORD)getsid(0)) == ENOENT &&
	               RawLook(1, &dummy, &dummy) == 0
	           ? 0
	           : 32;
}

int ParentsProcFromANewPidNamespace(const std::string &)
{
	if (unshare(CLONE_NEWPID) != 0)
		return 33;
	return InChild(ParentsProcSeenFromANewNamespace);
}

// A root process whose leader has exited while 3 threads and 6
// descriptors go on, as nobody sees it: its descriptors too (Linux 6.2
// and later give them to everyone).
int LeaderGoneSeenByNobody(const std::string &dir)
{
	Background c = StartCopy(dir, "leader-gone", 4, 6, "leader-exits");
	for (int i = 0; c.pid > 0 && i < 500 && StatusField(c.pid, "State")[0] != 'Z'; i++)
		usleep(10000);
	if (c.pid <= 0 || StatusField(c.pid, "State")[0] != 'Z')
		return 40;
	pid_t pid = c.pid;
	int status = InChild([&] {
		DWORD handles = 0, threads = 0;
		if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
		    setresuid(65534, 65534, 65534) != 0)
			return 41;
		if (RawLook(pid, &handles, &threads) != 0)
			return 42;
		return handles == (CountsForEveryone() ? 6u : 0u) && threads == 4 ? 0 : 43;
	});
	Finish(c);
	return status;
}

TEST(Enumeration, NoProcessStallsThinsOrHidesTheTable)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root for a private mount namespace, FUSE, pid namespaces and other users";
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	const struct {
		const char *what;
		int (*body)(const std::string &dir);
	} cases[] = {
		{"a file system that never answers over a deleted image's folder", SilentFsOverADeletedImage},
		{"the parent's /proc from a new pid namespace", ParentsProcFromANewPidNamespace},
		{"another user's process whose leader exited, seen by nobody", LeaderGoneSeenByNobody},
	};
	for (const auto &c : cases) {
		int status = InPrivateMounts([&] { return c.body(dir); });
		if (status == 100 || status == 101) {
			RemoveAll(dir);
			GTEST_SKIP() << (status == 100 ? "no private mount namespace here" : "no FUSE here (/dev/fuse)");
		}
		EXPECT_EQ(status, 0) << c.what;
	}
	RemoveAll(dir);
}

} // namespace
