// A process with a known shape for the enumeration tests: THREADS threads
// and FDS open descriptors in all (0 and 1 among them). It writes "ready"
// to standard output once it has that shape and ends when its standard
// input does.
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

static void *Idle(void *)
{
	for (;;)
		pause();
	return NULL;
}

int main(int argc, char **argv)
{
	int threads, fds;
	char c;

	if (argc != 3)
		return 2;
	threads = atoi(argv[1]);
	fds = atoi(argv[2]);
	if (threads < 1 || fds < 2)
		return 2;
	// Whatever the parent left open would spoil the count.
	for (int fd = 2; fd < 1024; fd++)
		close(fd);
	for (int open = 2; open < fds; open++)
		if (::open("/dev/null", O_RDONLY) < 0)
			return 3;
	for (int i = 1; i < threads; i++) {
		pthread_t t;
		if (pthread_create(&t, NULL, Idle, NULL) != 0)
			return 4;
		pthread_detach(t);
	}
	if (write(1, "ready\n", 6) != 6)
		return 5;
	while (read(0, &c, 1) < 0)
		;
	// Straight out: a leak check at exit cannot stop the threads of a
	// process whose real and effective uids differ.
	_exit(0);
}
