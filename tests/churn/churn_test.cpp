// ownerroll on a process table that will not hold still, and on a /proc
// that hides other users' processes.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "run.h"
#include "table.h"

// A helper that starts and reaps short-lived processes as fast as it can,
// some only forked, some running a program, until the stop pipe closes,
// a count or a time is reached. It writes one byte once it has begun and
// its count when it ends.
struct Churn {
	pid_t pid;
	int stop;
	int report;
};

static void ChurnLoop(int stop, int report, long maxCount, int maxSeconds)
{
	struct timespec start, now;
	long count = 0;
	int alive = 0;
	char started = 1;

	clock_gettime(CLOCK_MONOTONIC, &start);
	for (; count < maxCount; count++) {
		// vfork: no copy of this (large, sanitized) address space per child.
		pid_t child = vfork();
		if (child == 0) {
			if (count % 4 == 0)
				execl("/bin/true", "true", (char *)NULL);
			_exit(0);
		}
		// Up to a handful stay unreaped for a moment, so that tables catch
		// them running, as zombies and being reaped.
		if (child > 0 && ++alive == 16) {
			waitpid(-1, NULL, 0);
			alive--;
		}
		if (count == 0 && write(report, &started, 1) != 1)
			break;
		if (count % 64 == 0) {
			struct pollfd p = {stop, POLLIN, 0};
			if (poll(&p, 1, 0) > 0)
				break;
			clock_gettime(CLOCK_MONOTONIC, &now);
			if (now.tv_sec - start.tv_sec >= maxSeconds)
				break;
		}
	}
	while (alive-- > 0)
		waitpid(-1, NULL, 0);
	if (write(report, &count, sizeof count) != (ssize_t)sizeof count)
		_exit(1);
	_exit(0);
}

static bool StartChurn(Churn *churn, long maxCount, int maxSeconds)
{
	int stopPipe[2], reportPipe[2];
	char started;

	if (pipe2(stopPipe, O_CLOEXEC) != 0)
		return false;
	if (pipe2(reportPipe, O_CLOEXEC) != 0)
		return false;
	churn->pid = fork();
	if (churn->pid < 0)
		return false;
	if (churn->pid == 0) {
		close(stopPipe[1]);
		close(reportPipe[0]);
		ChurnLoop(stopPipe[0], reportPipe[1], maxCount, maxSeconds);
	}
	close(stopPipe[0]);
	close(reportPipe[1]);
	churn->stop = stopPipe[1];
	churn->report = reportPipe[0];
	return read(churn->report, &started, 1) == 1;
}

// Stops the helper and gives how many processes it started.
static long StopChurn(Churn *churn)
{
	long count = -1;

	close(churn->stop);
	if (read(churn->report, &count, sizeof count) != (ssize_t)sizeof count)
		count = -1;
	close(churn->report);
	waitpid(churn->pid, NULL, 0);
	return count;
}

TEST(Churn, EveryTableParsesWhileProcessesComeAndGo)
{
	const int runs = 100;
	Churn churn;
	std::map<std::string, int> seen;

	ASSERT_TRUE(StartChurn(&churn, 2000000, 300)) << strerror(errno);
	int run = 0;
	for (; run < runs; run++) {
		RunResult r = RunProgram({OWNERROLL}, "");
		std::vector<TableRow> rows;
		std::string problem;
		bool parsed = ParseTable(r.out, &rows, &problem);
		EXPECT_TRUE(parsed) << "run " << run << ": " << problem;
		EXPECT_EQ(r.err, "") << "run " << run;
		EXPECT_EQ(r.status, 0) << "run " << run;
		EXPECT_FALSE(r.timedOut) << "run " << run;
		if (!parsed || !r.err.empty() || r.status != 0)
			break;
		for (const TableRow &row : rows)
			seen[row.pid]++;
	}
	long started = StopChurn(&churn);
	EXPECT_EQ(run, runs);
	EXPECT_GT(started, 0);
	int transient = 0;
	for (const auto &entry : seen)
		if (entry.second < run)
			transient++;
	std::printf("%d runs while %ld processes came and went; %d pids in some tables only"
	            " (each run's own among them)\n",
	            run, started, transient);
}

static const char needsRoot[] = "needs root: a private mount namespace and a change of user";
static const uid_t nobody = 65534;

// The programs copied into a directory every user may enter, so that they
// can run as that user wherever the build tree lies; "" when that failed.
static std::string MakeCopies()
{
	RunResult r = Shell("d=$(mktemp -d /tmp/hidepid-XXXXXX) && cp " + Quote(OWNERROLL) + " " +
	                    Quote(PRIVATE_PROC) + " \"$d\" && chmod 755 \"$d\" \"$d\"/* && printf %s \"$d\"");
	return r.status == 0 ? r.out : "";
}

static RunResult RunAsNobody(const std::string &dir, const char *hidepid)
{
	return RunProgram({dir + "/private_proc", hidepid, std::to_string(nobody), std::to_string(nobody),
	                   dir + "/private_proc", dir + "/ownerroll"},
	                  "");
}

TEST(RestrictedProc, HidepidShowsTheUserOnlyItsOwnProcesses)
{
	if (geteuid() != 0)
		GTEST_SKIP() << needsRoot;
	passwd *account = getpwuid(nobody);
	if (account == NULL)
		GTEST_SKIP() << "no account with uid 65534 here";
	const std::string owner = std::string("Unix User\\") + account->pw_name;
	const std::string sid = "S-1-22-1-" + std::to_string(nobody);
	const std::string dir = MakeCopies();
	ASSERT_NE(dir, "");

	RunResult r = RunAsNobody(dir, "2");
	// The same user over a proc that hides nothing sees the others: what
	// the first run leaves out is really there to be hidden.
	RunResult open = RunAsNobody(dir, "0");
	Shell("rm -r " + Quote(dir));
	if (r.status == 125)
		GTEST_SKIP() << "no private mount namespace with a proc of its own here: " << r.err;

	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out.find("Error:"), std::string::npos) << r.out;
	std::vector<TableRow> rows;
	std::string problem;
	ASSERT_TRUE(ParseTable(r.out, &rows, &problem)) << problem << "\n" << r.out;
	// The program's own row is the real tests' to check; the peer is the
	// user's other process, which must not be hidden.
	bool peer = false;
	for (const TableRow &row : rows) {
		EXPECT_EQ(row.sid, sid) << row.pid << " " << row.name;
		EXPECT_EQ(row.account, owner) << row.pid << " " << row.name;
		peer = peer || row.name == "private_proc";
	}
	EXPECT_TRUE(peer) << r.out;

	ASSERT_EQ(open.status, 0) << open.err;
	std::vector<TableRow> openRows;
	ASSERT_TRUE(ParseTable(open.out, &openRows, &problem)) << problem;
	bool others = false;
	for (const TableRow &row : openRows)
		others = others || row.sid != sid;
	EXPECT_TRUE(others) << "every process is the user's even without hidepid";
}
