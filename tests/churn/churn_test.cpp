// ownerroll on a process table that will not hold still, and on a /proc
// that hides other users' processes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "run.h"
#include "table.h"

// A helper that starts and reaps short-lived processes as fast as it can,
// some only forked, some running a program, until its socket reads the end
// of input or five minutes have passed. It writes one byte once it has
// begun and its count when it ends.
static void ChurnLoop(int sock)
{
	const time_t end = time(NULL) + 300;
	long count = 0;
	int alive = 0;

	for (;; count++) {
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
		if (count == 0 && write(sock, "", 1) != 1)
			break;
		struct pollfd p = {sock, POLLIN, 0};
		if (count % 64 == 0 && (poll(&p, 1, 0) > 0 || time(NULL) >= end))
			break;
	}
	while (alive-- > 0)
		waitpid(-1, NULL, 0);
	_exit(write(sock, &count, sizeof count) == (ssize_t)sizeof count ? 0 : 1);
}

// The helper's pid once it has begun, or -1; its socket in *sock.
static pid_t StartChurn(int *sock)
{
	int pair[2];
	char started;

	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
		return -1;
	pid_t pid = fork();
	if (pid == 0) {
		close(pair[0]);
		ChurnLoop(pair[1]);
	}
	close(pair[1]);
	*sock = pair[0];
	return pid > 0 && read(*sock, &started, 1) == 1 ? pid : -1;
}

// Stops the helper and gives how many processes it started.
static long StopChurn(pid_t pid, int sock)
{
	long count = -1;

	shutdown(sock, SHUT_WR);
	if (read(sock, &count, sizeof count) != (ssize_t)sizeof count)
		count = -1;
	close(sock);
	waitpid(pid, NULL, 0);
	return count;
}

TEST(Churn, EveryTableParsesWhileProcessesComeAndGo)
{
	const int runs = 100;
	int sock = -1;
	pid_t churn = StartChurn(&sock);
	ASSERT_GT(churn, 0) << strerror(errno);

	int run = 0;
	for (; run < runs && !HasFailure(); run++) {
		RunResult r = RunProgram({OWNERROLL});
		std::vector<TableRow> rows;
		EXPECT_EQ(ParseTable(r.out, &rows), "") << "run " << run;
		EXPECT_EQ(r.err, "") << "run " << run;
		EXPECT_EQ(r.status, 0) << "run " << run;
		EXPECT_FALSE(r.timedOut) << "run " << run;
	}
	long started = StopChurn(churn, sock);
	EXPECT_EQ(run, runs);
	EXPECT_GT(started, 0);
	std::printf("%d runs while %ld processes came and went\n", run, started);
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
	                   dir + "/private_proc", dir + "/ownerroll"});
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
	std::vector<TableRow> rows;
	ASSERT_EQ(ParseTable(r.out, &rows), "") << r.out;
	// The program's own row is the real tests' to check; the peer is the
	// user's other process, which must not be hidden.
	bool peer = false;
	for (const TableRow &row : rows) {
		EXPECT_EQ(row.sid, sid) << row.pid << " " << row.name;
		EXPECT_EQ(row.account, owner) << row.pid << " " << row.name;
		peer = peer || row.name == "private_proc";
	}
	EXPECT_TRUE(peer) << r.out;

	// Without hidepid the user sees root's processes, this one among them.
	EXPECT_EQ(open.status, 0) << open.err;
	EXPECT_NE(open.out.find("\tS-1-22-1-0\tUnix User\\"), std::string::npos) << open.out;
}
