// A process with a known shape for the enumeration tests: THREADS threads
// and FDS open descriptors in all (0, 1 and 2 among them: standard error
// stays the test's, so that a sanitizer's report is seen). It writes "ready"
// to standard output once it has that shape and ends when its standard
// input does. With a third argument "leader-exits" (and THREADS at least
// 2) its main thread ends first and another thread says "ready" once it
// has, so that the leader is a zombie while the other threads run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

static void *Idle(void *)
{
	for (;;)
		pause();
	return NULL;
}

[[noreturn]] static void ReadyUntilInputEnds()
{
	char c;

	if (write(1, "ready\n", 6) != 6)
		_exit(5);
	while (read(0, &c, 1) < 0)
		;
	// Straight out: a leak check at exit cannot stop the threads of a
	// process whose real and effective uids differ.
	_exit(0);
}

// The leader is a zombie once it has exited; pthread_join on it trips
// AddressSanitizer's own check (GCC 14), so its state is read instead.
static void *Waiter(void *)
{
	char path[64];

	snprintf(path, sizeof path, "/proc/self/task/%d/stat", (int)getpid());
	for (int tries = 0; tries < 10000; tries++) {
		char stat[512] = "";
		int fd = open(path, O_RDONLY);
		ssize_t n = fd < 0 ? -1 : read(fd, stat, sizeof stat - 1);
		const char *end = n > 0 ? strrchr(stat, ')') : NULL;

		if (fd >= 0)
			close(fd);
		if (end != NULL && end[1] == ' ' && end[2] == 'Z')
			ReadyUntilInputEnds();
		usleep(1000);
	}
	_exit(6);
}

int main(int argc, char **argv)
{
	int threads, fds;
	bool leaderExits = argc == 4 && strcmp(argv[3], "leader-exits") == 0;

	if (argc != 3 && !leaderExits)
		return 2;
	threads = atoi(argv[1]);
	fds = atoi(argv[2]);
	if (threads < (leaderExits ? 2 : 1) || fds < 3)
		return 2;
	// Whatever the parent left open would spoil the count.
	for (int fd = 3; fd < 1024; fd++)
		close(fd);
	for (int open = 3; open < fds; open++)
		if (::open("/dev/null", O_RDONLY) < 0)
			return 3;
	for (int i = leaderExits ? 2 : 1; i < threads; i++) {
		pthread_t t;
		if (pthread_create(&t, NULL, Idle, NULL) != 0)
			return 4;
		pthread_detach(t);
	}
	if (leaderExits) {
		pthread_t t;
		if (pthread_create(&t, NULL, Waiter, NULL) != 0)
			return 4;
		pthread_exit(NULL);
	}
	ReadyUntilInputEnds();
}
