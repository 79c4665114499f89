// The least reader of the facts a table of processes needs, the yardstick
// of the benchmark: for each process, by paths relative to one descriptor
// of /proc and in the order ownerroll makes them, a stat of PID/task (owner,
// threads), the PID/exe link (image) and a stat of PID/fd (descriptors),
// and nothing else. Prints only how many processes it read:
//
//   bench-least
//
// Exits 0, or 1 when /proc cannot be read.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

// "PID/" then the name; a pid has at most 10 digits.
static char *PutPid(char *path, const char *digits)
{
	while (*digits != 0) {
		*path++ = *digits++;
	}
	*path++ = '/';
	return path;
}

static void PutName(char *at, const char *name)
{
	while ((*at++ = *name++) != 0) {
	}
}

int main()
{
	int procFd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (procFd < 0) {
		perror("bench-least: /proc");
		return 1;
	}
	alignas(struct dirent64) static char batch[64 * 1024];
	static char link[4096];
	long count = 0;
	for (;;) {
		ssize_t size = getdents64(procFd, batch, sizeof batch);
		if (size < 0) {
			perror("bench-least: /proc");
			return 1;
		}
		if (size == 0) {
			break;
		}
		for (ssize_t at = 0; at < size;) {
			const struct dirent64 *entry = reinterpret_cast<const struct dirent64 *>(batch + at);
			at += entry->d_reclen;
			if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
				continue;
			}
			char path[32];
			char *name = PutPid(path, entry->d_name);
			struct stat st;
			PutName(name, "task");
			if (fstatat(procFd, path, &st, 0) != 0) {
				continue;
			}
			PutName(name, "exe");
			readlinkat(procFd, path, link, sizeof link);
			PutName(name, "fd");
			fstatat(procFd, path, &st, 0);
			count++;
		}
	}
	printf("%ld\n", count);
	return 0;
}
