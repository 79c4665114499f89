// The enumeration: one process read from a crafted /proc tree; the real
// /proc with fixture processes of known name, threads, descriptors and
// owner, processes starting and ending meanwhile, a /proc that is no
// process file system or hides processes; and what no process may do to
// the table (stall it, thin it out, hide its descriptors).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <malloc.h>
#include <memory>
#include <pwd.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "mounts.h"
#include "posix/process.h"
#include "run.h"
#include "sids.h"
#include "silentfs.h"
#include "table.h"
#include "text.h"
#include "winapi.h"

namespace {

// One enumeration of every session, released with the object.
struct Listing {
	WTS_PROCESS_INFO_EXW *records = nullptr;
	DWORD count = 0;
	std::string error; // "" or why the call failed

	Listing()
	{
		DWORD level = 1;
		if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
		                              (LPWSTR *)&records, &count))
			error = "enumeration failed with " + std::to_string(GetLastError());
	}
	~Listing() { WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, records, count); }
	Listing(const Listing &) = delete;
	Listing &operator=(const Listing &) = delete;

	const WTS_PROCESS_INFO_EXW *Find(pid_t pid) const
	{
		for (DWORD i = 0; i < count; i++)
			if (records[i].ProcessId == (DWORD)pid)
				return &records[i];
		return nullptr;
	}
};

// "" when the list is one block, records back to back and then what they
// point to, every record whole; else the first fault.
std::string WellFormed(const Listing &l)
{
	const BYTE *base = (const BYTE *)l.records;
	const BYTE *end = base + malloc_usable_size(l.records);
	const BYTE *text = base + (size_t)l.count * sizeof(WTS_PROCESS_INFO_EXW);
	DWORD previous = 0;

	if (!l.error.empty() || l.records == nullptr || text > end)
		return l.error + " no block of records";
	for (DWORD i = 0; i < l.count; i++) {
		const WTS_PROCESS_INFO_EXW &r = l.records[i];
		const std::string pid = " at pid " + std::to_string(r.ProcessId);
		const BYTE *name = (const BYTE *)r.pProcessName, *sid = (const BYTE *)r.pUserSid;
		size_t length = 0;
		if (r.ProcessId <= previous)
			return "pids out of order or repeated" + pid;
		previous = r.ProcessId;
		if (name < text || name >= end || (uintptr_t)name % alignof(WCHAR) != 0)
			return "name outside the block" + pid;
		while (name + (length + 1) * sizeof(WCHAR) <= end && r.pProcessName[length] != 0)
			length++;
		if (length == 0 || name + length * sizeof(WCHAR) >= end)
			return "name empty or not terminated" + pid;
		if (sid < text || sid + 16 > end || (uintptr_t)sid % alignof(DWORD) != 0 ||
		    SidText(r.pUserSid).rfind("S-1-22-1-", 0) != 0)
			return "SID outside the block or not a user's" + pid;
		// Every session asked for: none is read.
		if (r.NumberOfThreads < 1 || r.SessionId != 0)
			return "no thread, or a session" + pid;
	}
	return "";
}

// One process as a fresh list shows it; problem says what was wrong with
// the list.
struct Seen {
	std::string problem;
	bool found = false;
	std::u16string name;
	DWORD threads = 0, handles = 0;
	std::string sid;
};

Seen Look(pid_t pid)
{
	Seen s;
	Listing l;
	s.problem = WellFormed(l);
	if (const WTS_PROCESS_INFO_EXW *r = l.Find(pid))
		s = {s.problem, true, r->pProcessName, r->NumberOfThreads, r->HandleCount, SidText(r->pUserSid)};
	return s;
}

// Runs body in a child process and gives its report: "" when all held,
// else what failed, or "skip: " and why it cannot run here.
std::string InChild(const std::function<std::string()> &body)
{
	int report[2];
	if (pipe2(report, O_CLOEXEC) != 0)
		return "no pipe";
	pid_t pid = fork();
	if (pid == 0) {
		close(report[0]);
		std::string message = body();
		_exit(write(report[1], message.data(), message.size()) == (ssize_t)message.size() ? 0 : 1);
	}
	close(report[1]);
	std::string message;
	char buffer[256];
	for (ssize_t n; pid > 0 && (n = read(report[0], buffer, sizeof buffer)) > 0;)
		message.append(buffer, n);
	close(report[0]);
	int status = 0;
	if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
		message += " (the child did not end well)";
	return message;
}

// body's report from a child in a private mount namespace: the test fails
// with it, or skips where the child cannot run here.
void ExpectInPrivateMounts(const std::function<std::string()> &body)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root for a private mount namespace";
	std::string report = InChild([&] {
		const char *failed = EnterPrivateMounts();
		return failed != nullptr ? "skip: " + std::string(failed) + ": " + strerror(errno) : body();
	});
	if (report.rfind("skip: ", 0) == 0)
		GTEST_SKIP() << report.substr(6);
	EXPECT_EQ(report, "");
}

std::string BecomeNobody()
{
	if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
	    setresuid(65534, 65534, 65534) != 0)
		return "cannot become nobody";
	return "";
}

// A scratch directory beside the fixture, where copies of it may run; the
// test removes it with RemoveAll.
std::string ScratchDir()
{
	std::string fixture = PROCFIXTURE;
	std::string dir = fixture.substr(0, fixture.rfind('/')) + "/procnames.XXXXXX";
	return mkdtemp(&dir[0]) != nullptr ? dir : "";
}

// A folder in /tmp that every user may enter, with copies of programs that
// a test runs as another user: the checkout's may not be (a clone in
// /root). The test removes it with RemoveAll.
std::string OpenCopies(const std::vector<std::string> &programs)
{
	char dir[] = "/tmp/ownerroll-test.XXXXXX";
	if (mkdtemp(dir) == nullptr || chmod(dir, 0755) != 0)
		return "";
	for (const std::string &p : programs)
		if (!CopyExecutable(p, dir + p.substr(p.rfind('/'))))
			return "";
	return dir;
}

void RemoveAll(const std::string &dir)
{
	Shell("rm -rf " + Quote(dir));
}

// Makes a tree under root: "DIR/" a directory, "LINK -> TARGET" a
// symbolic link, "FILE=TEXT" a file.
bool Craft(const std::string &root, const std::vector<std::string> &entries)
{
	std::string script = "set -e; cd " + Quote(root);
	for (const std::string &e : entries) {
		size_t arrow = e.find(" -> "), equals = e.find('=');
		std::string path = Quote(e.substr(0, std::min(arrow, equals)));
		script += "; mkdir -p \"$(dirname " + path + ")\"; ";
		if (arrow != std::string::npos)
			script += "ln -s " + Quote(e.substr(arrow + 4)) + " " + path;
		else if (equals != std::string::npos)
			script += "printf %s " + Quote(e.substr(equals + 1)) + " > " + path;
		else
			script += "mkdir -p " + path;
	}
	return Shell(script).status == 0;
}

// A process reads the same from a crafted tree as from /proc. ramfs,
// unlike tmpfs, gives a directory the size 0 of an fd directory before
// Linux 6.2, so that descriptors are counted as entries; a directory's
// link count is 2 and one per subdirectory, as /proc's task directory.
TEST(ReadProcess, FromACraftedTree)
{
	std::string root = ScratchDir();
	ASSERT_NE(root, "");
	ExpectInPrivateMounts([&]() -> std::string {
		if (mount("ramfs", root.c_str(), "ramfs", 0, nullptr) != 0)
			return "skip: no ramfs: " + std::string(strerror(errno));
		bool crafted = Craft(root, {
			"10/task/10/", "10/fd/0=", "10/fd/1=", "10/fd/2=", "10/comm=tool\n", "10/exe -> /opt/some tool",
			// The leader exited: no image, no descriptors; thread 21 too.
			// Threads 21 and 23 have ended. Made in this order, a gone thread
			// comes first, whichever way the directory lists them; the
			// leader's too, where the newest comes first.
			"20/task/21/", "20/task/22/fd/0=", "20/task/22/fd/1=", "20/fd/", "20/comm=leader\n",
			"20/task/22/exe -> /opt/thread image", "20/task/23/", "20/task/20/exe -> /opt/the leader's",
			// No descriptors through the leader: through another thread.
			"30/task/31/fd/0=", "30/fd/", "30/comm=other\n", "30/exe -> /opt/seen", "30/task/30/fd/",
			// A kernel thread, and a pid reaped meanwhile.
			"40/task/40/", "40/fd/", "40/comm=kthread\n", "50/task/", "50/fd/", "50/comm=reaped\n",
			"60/task/60/", "60/fd/", "60/comm=x\n", "60/exe -> /gone/image (deleted)",
		});
		if (!crafted || chown((root + "/30/task").c_str(), 4242, 0) != 0)
			return "cannot make the tree";
		const struct {
			DWORD pid;
			int result;
			const char *name;
			DWORD uid, threads, handles;
		} cases[] = {
			{10, 0, "some tool", 0, 1, 3},
			{20, 0, "thread image", 0, 4, 2},
			{30, 0, "seen", 4242, 2, 1},
			{40, 0, "kthread", 0, 1, 0},
			{50, LeftOut, "", 0, 0, 0},
			{60, 0, "image", 0, 1, 0},
		};
		std::unique_ptr<ProcessReader> reader(new ProcessReader);
		reader->procFd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		std::string report;
		for (const auto &c : cases) {
			ProcessFacts f = {};
			const char *name = "";
			size_t length = 0;
			int result = ReadProcess(reader.get(), c.pid, &f, &name, &length);
			if (result != c.result || std::string(name, length) != c.name || f.uid != c.uid ||
			    f.threads != c.threads || f.handles != c.handles)
				report += "pid " + std::to_string(c.pid) + " read as " + std::to_string(result) + " " +
				          std::string(name, length) + " " + std::to_string(f.uid) + " " +
				          std::to_string(f.threads) + " " + std::to_string(f.handles) + "; ";
		}
		close(reader->procFd);
		return report;
	});
	RemoveAll(root);
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

// Starts a copy of the fixture named dir/name.
Background StartCopy(const std::string &dir, const std::string &name, int threads, int fds,
                     const char *mode = nullptr)
{
	std::string path = dir + "/" + name;
	return CopyExecutable(PROCFIXTURE, path) ? Start(path, threads, fds, nullptr, mode) : Background();
}

TEST(Enumeration, FixturesOfKnownShapeAndOwner)
{
	// Different shapes, so that no fixed value can pass.
	const int shapes[][2] = {{5, 7}, {1, 4}, {3, 40}, {17, 3}};
	for (const auto &shape : shapes) {
		Background c = Start(PROCFIXTURE, shape[0], shape[1]);
		ASSERT_GT(c.pid, 0);
		Seen s = Look(c.pid);
		EXPECT_EQ(s.problem, "");
		EXPECT_TRUE(s.found);
		EXPECT_EQ(s.name, u"procfixture");
		EXPECT_EQ(s.threads, (DWORD)shape[0]);
		EXPECT_EQ(s.handles, (DWORD)shape[1]);
		EXPECT_EQ(s.sid, "S-1-22-1-" + std::to_string(geteuid()));
		Stop(c);
	}
}

TEST(Enumeration, OwnerIsTheEffectiveUid)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to run a process with distinct real and effective uids";
	const std::string dir = OpenCopies({PROCFIXTURE});
	ASSERT_NE(dir, "");
	Background c = Start(dir + "/procfixture", 1, 3, [] { return setresuid(65534, 54321, 0) == 0; });
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

// A copy of the fixture whose leader has exited while its other threads
// run on; pid -1 when that could not be had.
Background StartLeaderGone(const std::string &dir, const std::string &name, int threads, int fds)
{
	Background c = StartCopy(dir, name, threads, fds, "leader-exits");
	for (int i = 0; c.pid > 0 && i < 500 && StatusField(c.pid, "State")[0] != 'Z'; i++)
		usleep(10000);
	if (c.pid > 0 && StatusField(c.pid, "State")[0] != 'Z')
		Finish(c);
	return c;
}

TEST(Enumeration, ThreadsRunOnAfterTheLeaderExits)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	// Their image and descriptors are the process's. The name is longer
	// than a task name.
	Background c = StartLeaderGone(dir, "leader-gone-with-a-long-name", 4, 6);
	ASSERT_GT(c.pid, 0) << "the leader did not exit";
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
	Listing l;
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
		if (std::all_of(expected.begin(), expected.end(), [](char16_t ch) { return ch >= 0x20 && ch < 0x7F; })) {
			EXPECT_EQ(std::u16string(l.records[i].pProcessName), expected);
			seen++;
		}
	}
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
		// Its descriptors too, where the kernel gives their number to all.
		EXPECT_EQ(InChild([&]() -> std::string {
			std::string failed = BecomeNobody();
			Seen other = Look(c.pid), self = Look(getpid());
			if (!failed.empty() || !other.problem.empty() || !other.found || !self.found)
				return failed + other.problem + " not listed";
			if (other.name != n.task || other.threads != 3 || other.sid != "S-1-22-1-0" ||
			    other.handles != (CountsForEveryone() ? 5u : 0u))
				return "the root process seen otherwise";
			return self.handles >= 3 && self.sid == "S-1-22-1-65534" ? "" : "itself seen otherwise";
		}), "") << n.file;
		Seen s = Look(c.pid);
		EXPECT_EQ(s.name, n.whole);
		EXPECT_EQ(s.handles, 5u);
		Stop(c);
	}
	RemoveAll(dir);
}

TEST(Enumeration, OwnProcess)
{
	Seen self = Look(getpid());
	char exe[PATH_MAX] = {0};
	ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
	std::string base = strrchr(exe, '/') + 1;
	EXPECT_EQ(self.name, std::u16string(base.begin(), base.end()));
	EXPECT_EQ(self.sid, "S-1-22-1-" + std::to_string(geteuid()));
	EXPECT_GE(self.handles, 3u);
	// Pid 1 is there, whatever else comes and goes.
	EXPECT_TRUE(Look(1).found);
	EXPECT_TRUE(Look(getppid()).found);
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

// "" when each pid listed in /proc before and after the call is in the
// list, and no pid of a mere thread is.
std::string AgreesWithProc()
{
	std::vector<pid_t> before = ProcPids();
	Listing l;
	std::vector<pid_t> after = ProcPids();
	if (before.size() < 2 || !l.error.empty())
		return "nothing to compare: " + l.error;
	for (pid_t pid : before)
		if (std::find(after.begin(), after.end(), pid) != after.end() && l.Find(pid) == nullptr)
			return "pid " + std::to_string(pid) + " not listed";
	for (DWORD i = 0; i < l.count; i++) {
		std::string tgid = StatusField((pid_t)l.records[i].ProcessId, "Tgid");
		if (!tgid.empty() && tgid != std::to_string(l.records[i].ProcessId))
			return "a thread listed: " + tgid;
	}
	return "";
}

TEST(Enumeration, AgreesWithProcOnStableProcesses)
{
	EXPECT_EQ(AgreesWithProc(), "");
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
	for (int i = 0; i < 50 && !HasFailure(); i++) {
		Listing l;
		EXPECT_EQ(WellFormed(l), "");
		EXPECT_NE(l.Find(getpid()), nullptr);
	}
	stop = true;
	churn.join();
	EXPECT_GT(started.load(), 0);
}

// The error of an enumeration refused with the list and the count left as
// they were; 0 for any other outcome. withList and withCount false pass
// null for them.
DWORD Refused(HANDLE server, DWORD *level, DWORD session = WTS_ANY_SESSION, bool withList = true,
              bool withCount = true)
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
	DWORD zero = 0, one = 1, two = 2;
	const struct {
		HANDLE server;
		DWORD *level, session;
		bool withList, withCount;
	} cases[] = {
		{WTS_CURRENT_SERVER_HANDLE, &zero, WTS_ANY_SESSION, true, true},
		{WTS_CURRENT_SERVER_HANDLE, &two, WTS_ANY_SESSION, true, true},
		{(HANDLE)&one, &one, WTS_ANY_SESSION, true, true},
		{WTS_CURRENT_SERVER_HANDLE, nullptr, WTS_ANY_SESSION, true, true},
		// One session only is not served: no program asks for it.
		{WTS_CURRENT_SERVER_HANDLE, &one, (DWORD)getsid(0), true, true},
		{WTS_CURRENT_SERVER_HANDLE, &one, 0, true, true},
		{WTS_CURRENT_SERVER_HANDLE, &one, WTS_ANY_SESSION, false, true},
		{WTS_CURRENT_SERVER_HANDLE, &one, WTS_ANY_SESSION, true, false},
	};
	for (const auto &c : cases)
		EXPECT_EQ(Refused(c.server, c.level, c.session, c.withList, c.withCount), (DWORD)EINVAL)
			<< "session " << c.session << ", list " << c.withList << ", count " << c.withCount;
	EXPECT_EQ(one, 1u);
}

TEST(Release, NullBaseAndWrongClass)
{
	SetLastError(0);
	EXPECT_TRUE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, nullptr, 0));
	EXPECT_TRUE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel0, nullptr, 5));
	EXPECT_EQ(GetLastError(), 0u);

	Listing l;
	SetLastError(0);
	EXPECT_FALSE(WTSFreeMemoryExW(WTSTypeProcessInfoLevel0, l.records, l.count));
	EXPECT_EQ(GetLastError(), (DWORD)EINVAL);
	EXPECT_FALSE(WTSFreeMemoryExW(WTSTypeSessionInfoLevel1, l.records, l.count));
	// Still ours after the refusals: the sanitizer would see a double free.
	EXPECT_GT(l.records[0].ProcessId, 0u);
}

std::string NoProcessTable()
{
	DWORD level = 1;
	DWORD error = Refused(WTS_CURRENT_SERVER_HANDLE, &level);
	return error == ENOENT ? "" : "refused with " + std::to_string(error) + ", not ENOENT";
}

// A directory that looks like /proc but is not one. (An empty tmpfs is the
// console suite's: both programs report its "not found".)
TEST(Enumeration, FailsOverATmpfsDressedAsProc)
{
	ExpectInPrivateMounts([]() -> std::string {
		std::string self = std::to_string(getpid());
		if (mount("tmpfs", "/proc", "tmpfs", 0, nullptr) != 0 || mkdir(("/proc/" + self).c_str(), 0555) != 0 ||
		    mkdir(("/proc/" + self + "/task").c_str(), 0555) != 0 || symlink(self.c_str(), "/proc/self") != 0)
			return "cannot dress a tmpfs as /proc";
		return NoProcessTable();
	});
}

// /proc of a pid namespace this process is not in: it has no /proc/self.
// The namespace's first process mounts it and, alone in it, lists itself
// as pid 1.
TEST(Enumeration, FailsOverTheProcOfAnotherPidNamespace)
{
	ExpectInPrivateMounts([]() -> std::string {
		if (unshare(CLONE_NEWPID) != 0)
			return "no pid namespace";
		std::string inner = InChild([]() -> std::string {
			if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
				return "cannot mount its /proc";
			Listing l;
			return l.count == 1 && l.records[0].ProcessId == 1 ? "" : "not alone: " + l.error;
		});
		return inner.empty() ? NoProcessTable() : inner;
	});
}

// The parent's /proc from the first process of a new pid namespace: every
// pid it holds before and after is listed.
TEST(Enumeration, ServesTheParentsProcFromANewPidNamespace)
{
	ExpectInPrivateMounts([]() -> std::string {
		if (unshare(CLONE_NEWPID) != 0)
			return "no pid namespace";
		return InChild(AgreesWithProc);
	});
}

// A deleted image whose folder a file system that never answers now
// covers: the link's text names a path in it. Both programs end, and the
// row is there with the mark dropped.
TEST(Enumeration, NoFileSystemStallsIt)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	ExpectInPrivateMounts([&]() -> std::string {
		Background c = StartCopy(dir, "silent-below", 2, 4);
		if (c.pid <= 0 || unlink((dir + "/silent-below").c_str()) != 0)
			return "no fixture with a deleted image";
		// A program held by the server outlives its kill at the timeout
		// until the server's own end frees it.
		pid_t server = MountSilentFs(dir.c_str(), 30);
		if (server < 0) {
			int error = errno;
			Finish(c);
			return (error == ENOENT || error == ENODEV ? "skip: no FUSE here (/dev/fuse): " : "no FUSE: ") +
			       std::string(strerror(error));
		}
		RunResult table = RunProgram({OWNERROLL}, {.timeoutSeconds = 10});
		RunResult probe = RunProgram({TASKROLL}, {.timeoutSeconds = 10});
		EndSilentFs(server, dir.c_str());
		std::string pid = std::to_string(c.pid);
		Finish(c);
		std::vector<TableRow> rows;
		if (table.timedOut || probe.timedOut || probe.status != 0 || ParseTable(table.out, &rows) != "")
			return "a program stalled or failed: " + table.out.substr(0, 200);
		for (const TableRow &r : rows)
			if (r.pid == pid)
				return r.name == "silent-below" && r.handles == "4" && r.threads == "2" ? "" : "row " + r.name;
		return "the fixture is not listed";
	});
	RemoveAll(dir);
}

// A root process whose leader has exited, as nobody sees it: its
// descriptors too where the kernel gives their number to everyone.
TEST(Enumeration, LeaderGoneSeenByNobodyShowsItsDescriptors)
{
	std::string dir = ScratchDir();
	ASSERT_NE(dir, "");
	ExpectInPrivateMounts([&]() -> std::string {
		Background c = StartLeaderGone(dir, "leader-gone", 4, 6);
		if (c.pid <= 0)
			return "the leader did not exit";
		std::string report = InChild([&]() -> std::string {
			std::string failed = BecomeNobody();
			Seen s = Look(c.pid);
			if (!failed.empty() || !s.found)
				return failed + s.problem + " not listed";
			return s.handles == (CountsForEveryone() ? 6u : 0u) && s.threads == 4 ? "" : "seen otherwise";
		});
		Finish(c);
		return report;
	});
	RemoveAll(dir);
}

// ownerroll over a /proc mounted with hidepid=2, as an ordinary user: only
// the user's own processes, its peer among them; with hidepid=0 the same
// user sees root's too, so what the first leaves out is really there.
TEST(RestrictedProc, HidepidShowsTheUserOnlyItsOwnProcesses)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root: a private mount namespace and a change of user";
	passwd *account = getpwuid(65534);
	if (account == NULL)
		GTEST_SKIP() << "no account with uid 65534 here";
	const std::string owner = std::string("Unix User\\") + account->pw_name;
	const std::string dir = OpenCopies({OWNERROLL, PRIVATE_PROC});
	ASSERT_NE(dir, "");
	auto run = [&](const char *hidepid) {
		return RunProgram({dir + "/private_proc", hidepid, "65534", "65534", dir + "/private_proc", dir + "/ownerroll"});
	};
	RunResult hidden = run("2"), open = run("0");
	RemoveAll(dir);
	if (hidden.status == 125)
		GTEST_SKIP() << "no private mount namespace with a proc of its own here: " << hidden.err;

	EXPECT_EQ(hidden.status, 0);
	EXPECT_EQ(hidden.err, "");
	std::vector<TableRow> rows;
	ASSERT_EQ(ParseTable(hidden.out, &rows), "") << hidden.out;
	bool peer = false;
	for (const TableRow &row : rows) {
		EXPECT_EQ(row.sid, "S-1-22-1-65534") << row.pid << " " << row.name;
		EXPECT_EQ(row.account, owner) << row.pid << " " << row.name;
		peer = peer || row.name == "private_proc";
	}
	EXPECT_TRUE(peer) << hidden.out;
	EXPECT_EQ(open.status, 0) << open.err;
	EXPECT_NE(open.out.find("\tS-1-22-1-0\tUnix User\\"), std::string::npos) << open.out;
}

} // namespace
