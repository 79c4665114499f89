// Runs a program where /proc is not a process file system: in a private
// mount namespace with an empty tmpfs mounted on /proc. Needs root.
//   bare_proc PROGRAM [ARG...]
// Ends with 125, after a line on standard error, when the namespace cannot
// be set up.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	if (argc < 2)
		return 64;
	if (unshare(CLONE_NEWNS) != 0) {
		fprintf(stderr, "unshare(CLONE_NEWNS): %s\n", strerror(errno));
		return 125;
	}
	// Private, so that the mount below stays inside this namespace.
	if (mount(NULL, "/", NULL, MS_REC | MS_PRIVATE, NULL) != 0) {
		fprintf(stderr, "making / private: %s\n", strerror(errno));
		return 125;
	}
	if (mount("none", "/proc", "tmpfs", 0, NULL) != 0) {
		fprintf(stderr, "mounting tmpfs on /proc: %s\n", strerror(errno));
		return 125;
	}
	execv(argv[1], argv + 1);
	fprintf(stderr, "exec %s: %s\n", argv[1], strerror(errno));
	return 126;
}
