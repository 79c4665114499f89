#include "silentfs.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// Reads requests until the connection ends; answers INIT alone. The kernel
// wants a read buffer of at least 8 KiB.
[[noreturn]] static void Serve(int fd)
{
	static char request[64 * 1024];
	ssize_t n;

	while ((n = read(fd, request, sizeof request)) > 0 || (n < 0 && errno == EINTR)) {
		const fuse_in_header *in = (const fuse_in_header *)request;
		if (n < (ssize_t)sizeof *in || in->opcode != FUSE_INIT)
			continue;
		struct {
			fuse_out_header header;
			fuse_init_out init;
		} reply;
		memset(&reply, 0, sizeof reply);
		reply.header.len = sizeof reply;
		reply.header.unique = in->unique;
		reply.init.major = FUSE_KERNEL_VERSION;
		reply.init.minor = FUSE_KERNEL_MINOR_VERSION;
		reply.init.max_write = 4096;
		if (write(fd, &reply, sizeof reply) != (ssize_t)sizeof reply)
			_exit(1);
	}
	_exit(0);
}

pid_t MountSilentFs(const char *dir, unsigned seconds)
{
	char options[96];
	int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);

	if (fd < 0)
		return -1;
	snprintf(options, sizeof options, "fd=%d,rootmode=40000,user_id=0,group_id=0", fd);
	if (mount("silent", dir, "fuse.silent", MS_NOSUID | MS_NODEV, options) != 0) {
		int error = errno;
		close(fd);
		errno = error;
		return -1;
	}
	pid_t parent = getpid(), server = fork();
	if (server == 0) {
		prctl(PR_SET_PDEATHSIG, SIGKILL);
		if (getppid() != parent)
			_exit(0);
		alarm(seconds);
		Serve(fd);
	}
	// The server's copy is then the only one: its end ends the connection.
	close(fd);
	if (server < 0)
		umount2(dir, MNT_DETACH);
	return server;
}

void EndSilentFs(pid_t server, const char *dir)
{
	if (server > 0) {
		kill(server, SIGKILL);
		waitpid(server, nullptr, 0);
	}
	umount2(dir, MNT_DETACH);
}
