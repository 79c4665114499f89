// Runs a program over a /proc of its own, in a private mount namespace.
// Needs root.
//   private_proc tmpfs PROGRAM
// mounts an empty tmpfs on /proc, where /proc is no process file system.
//   private_proc HIDEPID UID GID PEER PROGRAM
// mounts a new proc instance with the hidepid option given, and runs both
// a peer and the program as that user. PEER is started first with the one
// argument "--peer", as the same user, and lives until PROGRAM ends;
// private_proc --peer just waits for that.
// Ends with 125, after a line on standard error, when the namespace cannot
// be set up.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "mounts.h"

static int SetupFailed(const char *what)
{
	fprintf(stderr, "%s: %s\n", what, strerror(errno));
	return 125;
}

// Before 5.8 every proc mount of a pid namespace was one instance, so a
// hidepid mount here would change /proc for the whole system.
static bool ProcMountsAreInstances(void)
{
	struct utsname name;
	int major = 0, minor = 0;

	if (uname(&name) != 0 || sscanf(name.release, "%d.%d", &major, &minor) != 2)
		return false;
	return major > 5 || (major == 5 && minor >= 8);
}

static bool BecomeUser(uid_t uid, gid_t gid)
{
	return setgroups(0, NULL) == 0 && setresgid(gid, gid, gid) == 0 &&
	       setresuid(uid, uid, uid) == 0 && getuid() == uid && geteuid() == uid;
}

// Starts the peer as the user and returns once it has exec'd (or died):
// only then is it the user's own, visible process with its own name.
static bool StartPeer(const char *path, uid_t uid, gid_t gid)
{
	pid_t parent = getpid();
	int ready[2];
	char byte;

	if (pipe2(ready, O_CLOEXEC) != 0)
		return false;
	pid_t peer = fork();
	if (peer < 0)
		return false;
	if (peer == 0) {
		close(ready[0]);
		if (!BecomeUser(uid, gid))
			_exit(125);
		// Set after the change of user, which clears it; it ends the
		// peer with the program, which is this process after exec.
		prctl(PR_SET_PDEATHSIG, SIGKILL);
		if (getppid() != parent)
			_exit(0);
		execl(path, path, "--peer", (char *)NULL);
		_exit(126);
	}
	close(ready[1]);
	while (read(ready[0], &byte, 1) < 0 && errno == EINTR)
		;
	close(ready[0]);
	return true;
}

int main(int argc, char **argv)
{
	const bool tmpfs = argc == 3 && strcmp(argv[1], "tmpfs") == 0;
	char options[32];

	if (argc == 2 && strcmp(argv[1], "--peer") == 0) {
		for (;;)
			pause();
	}
	if (!tmpfs && argc != 6)
		return 64;
	if (!tmpfs && !ProcMountsAreInstances()) {
		fprintf(stderr, "this kernel shares one proc instance per pid namespace\n");
		return 125;
	}
	const char *failed = EnterPrivateMounts();
	if (failed != NULL)
		return SetupFailed(failed);
	snprintf(options, sizeof options, "hidepid=%s", argv[1]);
	if (tmpfs ? mount("none", "/proc", "tmpfs", 0, NULL) != 0
	          : mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, options) != 0)
		return SetupFailed("mounting on /proc");
	if (!tmpfs) {
		uid_t uid = (uid_t)strtoul(argv[2], NULL, 10);
		gid_t gid = (gid_t)strtoul(argv[3], NULL, 10);
		if (!StartPeer(argv[4], uid, gid))
			return SetupFailed("starting the peer");
		if (!BecomeUser(uid, gid))
			return SetupFailed("becoming the user");
	}
	const char *program = tmpfs ? argv[2] : argv[5];
	execl(program, program, (char *)NULL);
	fprintf(stderr, "exec %s: %s\n", program, strerror(errno));
	return 126;
}
