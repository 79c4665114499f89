// Runs a program where /proc is not a process file system: in a private
// mount namespace with an empty tmpfs mounted on /proc. Needs root.
//   bare_proc PROGRAM [ARG...]
// Ends with 125, after a line on standard error, when the namespace cannot
// be set up.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

#include "mounts.h"

int main(int argc, char **argv)
{
	if (argc < 2)
		return 64;
	const char *failed = EnterPrivateMounts();
	if (failed == NULL && mount("none", "/proc", "tmpfs", 0, NULL) != 0)
		failed = "mounting tmpfs on /proc";
	if (failed != NULL) {
		fprintf(stderr, "%s: %s\n", failed, strerror(errno));
		return 125;
	}
	execv(argv[1], argv + 1);
	fprintf(stderr, "exec %s: %s\n", argv[1], strerror(errno));
	return 126;
}
