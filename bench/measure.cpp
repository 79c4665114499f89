// Runs one command with standard input and output on /dev/null and prints
//
//   WALL_NS MAXRSS_KB CPU_NS
//
// the wall time from just before the start to just after the end (monotonic
// clock, nanoseconds), the command's peak resident set in KiB and its user
// plus system time in nanoseconds, from wait4's usage of that one child.
// Wall time is what a user waits; CPU time shows the same cost with less of
// the noise other work on the machine adds. Standard error is left alone, so that a
// failing command can be seen. Exits 0 only when the command exited 0.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long NowNanoseconds(void)
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int main(int argc, char **argv)
{
	if (argc < 2) {
		fprintf(stderr, "usage: bench-measure COMMAND [ARG...]\n");
		return 2;
	}
	int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
	if (nullFd < 0) {
		fprintf(stderr, "bench-measure: /dev/null: %s\n", strerror(errno));
		return 1;
	}

	long long startNs = NowNanoseconds();
	pid_t pid = fork();
	if (pid < 0) {
		fprintf(stderr, "bench-measure: fork: %s\n", strerror(errno));
		return 1;
	}
	if (pid == 0) {
		if (dup2(nullFd, 0) < 0 || dup2(nullFd, 1) < 0) {
			_exit(127);
		}
		execvp(argv[1], argv + 1);
		fprintf(stderr, "bench-measure: %s: %s\n", argv[1], strerror(errno));
		_exit(127);
	}

	int status = 0;
	struct rusage usage;
	memset(&usage, 0, sizeof usage);
	pid_t waited;
	do {
		waited = wait4(pid, &status, 0, &usage);
	} while (waited < 0 && errno == EINTR);
	long long endNs = NowNanoseconds();
	if (waited != pid) {
		fprintf(stderr, "bench-measure: wait4: %s\n", strerror(errno));
		return 1;
	}

	long long cpuNs = (static_cast<long long>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000LL +
		(static_cast<long long>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000LL;
	printf("%lld %ld %lld\n", endNs - startNs, usage.ru_maxrss, cpuNs);
	if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
		return 0;
	}
	if (WIFSIGNALED(status)) {
		fprintf(stderr, "bench-measure: %s ended by signal %d\n", argv[1], WTERMSIG(status));
	} else {
		fprintf(stderr, "bench-measure: %s exited with status %d\n", argv[1], WEXITSTATUS(status));
	}
	return 1;
}
