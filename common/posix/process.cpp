// One process costs, where nothing is unusual, three system calls, by paths
// relative to /proc and on no descriptor of the process's own: PID/task for
// the owner and the thread count, the exe link, PID/fd for the descriptors.
//
// Nothing here follows a path that a process names (its exe link's text,
// its cwd, its root): a file system that never answers could hold the whole
// enumeration. Only the magic links of /proc are read, and only cached
// attributes asked for.
#include "process.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "exelink.h"

enum { PathBytes = 64 };

const char *NextEntry(DirWalk *w, int *error)
{
	const struct dirent64 *d;

	while (w->at >= w->size) {
		w->size = getdents64(w->fd, w->batch, w->batchBytes);
		w->at = 0;
		if (w->size <= 0) {
			*error = w->size < 0 ? errno : 0;
			return NULL;
		}
	}
	d = (const struct dirent64 *)(w->batch + w->at);
	w->at += d->d_reclen;
	return d->d_name;
}

DWORD ParseId(const char *name)
{
	uint64_t id = 0;

	if (name[0] < '1' || name[0] > '9')
		return 0;
	for (size_t n = 0; name[n] != 0; n++) {
		if (name[n] < '0' || name[n] > '9' || n == 10)
			return 0;
		id = id * 10 + (uint64_t)(name[n] - '0');
	}
	return id > INT_MAX ? 0 : (DWORD)id;
}

// The exe link as last read, its text in the reader's link.
struct ExeLink {
	int error;
	size_t length;
	bool gone;
};

// Ended, or hidden from this user: left out. Any other failure fails the
// enumeration.
static bool IsGoneOrHidden(int error)
{
	return error == ENOENT || error == ESRCH || error == EACCES || error == EPERM;
}

static DWORD ClampTo32(uint64_t v)
{
	return v > UINT32_MAX ? UINT32_MAX : (DWORD)v;
}

// A directory of a process or a thread, relative to /proc and with its
// '/' ("PID/", "PID/task/TID/", 27 bytes at most), and room after it for
// the name of one of its files. Paths are made on every call: no general
// formatter here.
struct ProcDir {
	char path[PathBytes];
	size_t length;
};

static void AddId(ProcDir *d, DWORD id)
{
	char digits[10];
	size_t n = 0;

	do {
		digits[n++] = (char)('0' + id % 10);
		id /= 10;
	} while (id != 0);
	while (n > 0)
		d->path[d->length++] = digits[--n];
	d->path[d->length++] = '/';
}

// The path of the file name in d, valid until the next call for d.
static const char *In(ProcDir *d, const char *name)
{
	memcpy(d->path + d->length, name, strlen(name) + 1);
	return d->path;
}

// Every world-readable directory of a process has its effective ids; the
// task directory counts two links besides one per thread. No thread, not
// even a zombie's one, means the pid was reaped meanwhile.
static int ReadOwnerAndThreads(const ProcessReader *r, ProcDir *leader, ProcessFacts *f)
{
	struct stat st;

	if (fstatat(r->procFd, In(leader, "task"), &st, 0) != 0)
		return errno;
	if (st.st_nlink < 3)
		return ESRCH;
	f->uid = (DWORD)st.st_uid;
	f->threads = ClampTo32(st.st_nlink - 2);
	return 0;
}

// The kernel marks the link of a removed file " (deleted)", but a file may
// be named so: the mark is the kernel's when the running file has no link
// left. statx gets the open file's attributes without a lookup, from the
// cache (AT_STATX_DONT_SYNC) where a file system would ask a server.
static void ReadExe(ProcessReader *r, ProcDir *dir, ExeLink *exe)
{
	struct statx image;
	const char *path = In(dir, "exe");
	ssize_t n = readlinkat(r->procFd, path, r->link, sizeof r->link);

	exe->error = n < 0 ? errno : n == 0 || n >= (ssize_t)sizeof r->link ? ENAMETOOLONG : 0;
	if (exe->error != 0)
		return;
	exe->length = (size_t)n;
	exe->gone = HasDeletedMark(r->link, exe->length) &&
	            (statx(r->procFd, path, AT_STATX_DONT_SYNC, STATX_NLINK, &image) != 0 ||
	             image.stx_nlink == 0);
}

// For kernels that do not give the number as the fd directory's size. Only
// the owner (and root) may list it: 0 for the others.
static int CountEntries(ProcessReader *r, ProcDir *dir, DWORD *count)
{
	int fd = openat(r->procFd, In(dir, "fd"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DirWalk walk = {fd, r->fdEntries, sizeof r->fdEntries, 0, 0};
	const char *name;
	int error = 0;

	*count = 0;
	if (fd < 0)
		return errno == EACCES || errno == EPERM ? 0 : errno;
	while ((name = NextEntry(&walk, &error)) != NULL)
		if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
			(*count)++;
	close(fd);
	return error;
}

// Since Linux 6.2 the fd directory's size is the number of descriptors, for
// any user; 0 (older kernels, or truly none) falls back to counting, but
// where there is no image: a task without memory (a kernel thread, a
// leader that has exited) has no descriptors either.
static int ReadHandles(ProcessReader *r, ProcDir *dir, const ExeLink *exe, DWORD *handles)
{
	struct stat st;

	if (fstatat(r->procFd, In(dir, "fd"), &st, 0) != 0)
		return errno;
	*handles = ClampTo32((uint64_t)st.st_size);
	return st.st_size > 0 || exe->error == ENOENT ? 0 : CountEntries(r, dir, handles);
}

// A leader that has exited shows neither image nor descriptors while its
// threads run on with the ones they share: the first other thread still
// there gives what the leader did not.
static int ReadThroughAThread(ProcessReader *r, ProcDir *leader, ProcessFacts *f, ExeLink *exe)
{
	int fd = openat(r->procFd, In(leader, "task"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DirWalk walk = {fd, r->threadEntries, sizeof r->threadEntries, 0, 0};
	bool needExe = exe->error == ENOENT, needHandles = f->handles == 0;
	const char *name;
	int error = 0;

	if (fd < 0)
		return errno;
	while ((needExe || needHandles) && error == 0 && (name = NextEntry(&walk, &error)) != NULL) {
		DWORD tid = ParseId(name);
		if (tid == 0 || tid == f->pid)
			continue;
		ProcDir thread = *leader;
		memcpy(thread.path + thread.length, "task/", 5);
		thread.length += 5;
		AddId(&thread, tid);
		if (needExe) {
			ReadExe(r, &thread, exe);
			if (exe->error == ENOENT)
				continue;
			needExe = false;
		}
		int handlesError = needHandles ? ReadHandles(r, &thread, exe, &f->handles) : 0;
		if (!IsGoneOrHidden(handlesError)) {
			needHandles = false;
			error = handlesError;
		}
	}
	close(fd);
	return error;
}

// The task name as the task set it (unlike status, comm does not escape
// it), without its line feed.
static int ReadTaskName(ProcessReader *r, ProcDir *leader, const char **name, size_t *length)
{
	int fd = openat(r->procFd, In(leader, "comm"), O_RDONLY | O_CLOEXEC | O_NOCTTY);
	ssize_t n;
	int error;

	if (fd < 0)
		return errno;
	n = read(fd, r->comm, sizeof r->comm);
	error = n < 0 ? errno : 0;
	close(fd);
	if (error != 0)
		return error;
	if (n > 0 && r->comm[n - 1] == '\n')
		n--;
	*name = r->comm;
	*length = (size_t)n;
	return 0;
}

int ReadProcess(ProcessReader *r, DWORD pid, ProcessFacts *f, const char **name, size_t *length)
{
	ProcDir leader;
	ExeLink exe = {0, 0, false};
	int error;

	memset(f, 0, sizeof *f);
	f->pid = pid;
	leader.length = 0;
	AddId(&leader, pid);
	error = ReadOwnerAndThreads(r, &leader, f);
	if (error == 0) {
		ReadExe(r, &leader, &exe);
		error = ReadHandles(r, &leader, &exe, &f->handles);
	}
	if (error == 0 && f->threads > 1 && (exe.error == ENOENT || f->handles == 0))
		error = ReadThroughAThread(r, &leader, f, &exe);
	// The image name is the last part of the exe link's target; the task
	// name stands in where the link cannot be read (a kernel thread, a
	// zombie, another user's process) or names nothing.
	if (error == 0 && exe.error == 0 && ImageNameFromLink(r->link, exe.length, exe.gone, name, length))
		return 0;
	if (error == 0 && exe.error != 0 && !IsGoneOrHidden(exe.error) && exe.error != ENAMETOOLONG)
		return exe.error;
	if (error == 0)
		error = ReadTaskName(r, &leader, name, length);
	return error != 0 && IsGoneOrHidden(error) ? LeftOut : error;
}
