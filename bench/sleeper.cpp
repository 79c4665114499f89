// Starts N children that do nothing until they are killed, so that the
// process table has a known size while the benchmark runs.
//
//   bench-sleeper N
//
// Prints "ready N" on standard output once every child has started, then
// waits for SIGTERM, SIGINT or SIGHUP, kills each child by pid, reaps them
// all and exits 0; the end of its own parent counts as SIGTERM. A child whose parent dies (even by SIGKILL) is killed by
// the kernel, so no child outlives this process. Runs in a process group of
// its own, so that the group id (its pid) names exactly what it started.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

static const long maxChildren = 1000000;

static pid_t *childPids;
static long childCount;

static void ChildMain(pid_t parentPid, int readyFd, int nullFd, const sigset_t *oldMask)
{
	if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parentPid) {
		_exit(1);
	}
	sigprocmask(SIG_SETMASK, oldMask, nullptr);
	// Standard streams open, as a daemon keeps them, and nothing else
	// (whatever the driver inherited stays with it): three descriptors each
	// once the ready pipe is closed, which the parent waits for.
	if (dup2(nullFd, 0) != 0 || dup2(nullFd, 1) != 1 || dup2(nullFd, 2) != 2) {
		_exit(1);
	}
	close_range(3, static_cast<unsigned>(readyFd) - 1, 0);
	close_range(static_cast<unsigned>(readyFd) + 1, ~0U, 0);
	char one = 1;
	ssize_t written = write(readyFd, &one, 1);
	close(readyFd);
	if (written != 1) {
		_exit(1);
	}
	for (;;) {
		pause();
	}
}

static void KillAndReapChildren(void)
{
	for (long i = 0; i < childCount; i++) {
		kill(childPids[i], SIGKILL);
	}
	long reaped = 0;
	while (reaped < childCount) {
		pid_t pid = waitpid(-1, nullptr, 0);
		if (pid > 0) {
			reaped++;
		} else if (errno != EINTR) {
			break;
		}
	}
}

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "usage: bench-sleeper N\n");
		return 2;
	}
	char *end = nullptr;
	long wanted = strtol(argv[1], &end, 10);
	if (*argv[1] == '\0' || *end != '\0' || wanted < 0 || wanted > maxChildren) {
		fprintf(stderr, "bench-sleeper: N must be a whole number from 0 to %ld\n", maxChildren);
		return 2;
	}
	// The benchmark driver may die without a word; its end stops us too.
	pid_t driverPid = getppid();
	if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != driverPid) {
		return 1;
	}
	if (setpgid(0, 0) != 0) {
		fprintf(stderr, "bench-sleeper: setpgid: %s\n", strerror(errno));
		return 1;
	}
	childPids = static_cast<pid_t *>(calloc(static_cast<size_t>(wanted) + 1, sizeof(pid_t)));
	if (childPids == nullptr) {
		fprintf(stderr, "bench-sleeper: out of memory\n");
		return 1;
	}

	// Stop signals stay pending while children are started; the loop looks
	// for them now and then, and the wait below takes them.
	sigset_t stopSignals;
	sigset_t oldMask;
	sigemptyset(&stopSignals);
	sigaddset(&stopSignals, SIGTERM);
	sigaddset(&stopSignals, SIGINT);
	sigaddset(&stopSignals, SIGHUP);
	sigprocmask(SIG_BLOCK, &stopSignals, &oldMask);

	int readyPipe[2];
	if (pipe(readyPipe) != 0) {
		fprintf(stderr, "bench-sleeper: pipe: %s\n", strerror(errno));
		return 1;
	}
	int nullFd = open("/dev/null", O_RDWR);
	if (nullFd < 0) {
		fprintf(stderr, "bench-sleeper: /dev/null: %s\n", strerror(errno));
		return 1;
	}
	pid_t selfPid = getpid();
	int forkError = 0;
	bool stopped = false;
	for (long i = 0; i < wanted; i++) {
		if ((i & 255) == 255) {
			sigset_t pending;
			sigpending(&pending);
			if (sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT) || sigismember(&pending, SIGHUP)) {
				stopped = true;
				break;
			}
		}
		pid_t pid = fork();
		if (pid < 0) {
			forkError = errno;
			break;
		}
		if (pid == 0) {
			close(readyPipe[0]);
			ChildMain(selfPid, readyPipe[1], nullFd, &oldMask);
		}
		childPids[childCount++] = pid;
	}
	close(readyPipe[1]);
	close(nullFd);

	// One byte per child, then the end of the pipe once every child has
	// closed it: each has run and holds only its final descriptors.
	long readyCount = 0;
	char buffer[4096];
	for (;;) {
		ssize_t got = read(readyPipe[0], buffer, sizeof buffer);
		if (got > 0) {
			readyCount += got;
		} else if (got == 0 || errno != EINTR) {
			break;
		}
	}
	close(readyPipe[0]);

	if (forkError != 0 || stopped || readyCount != wanted) {
		if (forkError != 0) {
			fprintf(stderr, "bench-sleeper: fork failed after %ld of %ld children: %s\n", childCount, wanted,
				strerror(forkError));
		} else if (!stopped) {
			fprintf(stderr, "bench-sleeper: only %ld of %ld children started\n", readyCount, wanted);
		}
		KillAndReapChildren();
		return 1;
	}

	printf("ready %ld\n", childCount);
	fflush(stdout);

	int signalNumber = 0;
	sigwait(&stopSignals, &signalNumber);
	KillAndReapChildren();
	return 0;
}
