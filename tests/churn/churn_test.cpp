// ownerroll on a process table that will not hold still.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
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
