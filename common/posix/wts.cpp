// Process enumeration over /proc. Each process costs, where nothing is
// unusual, three system calls, all by paths relative to one descriptor of
// /proc and none on a descriptor of the process's own: the attributes of
// PID/task for the owner and the thread count; the exe link for the image
// name; the attributes of PID/fd for the number of descriptors. getsid is
// asked only where one session is asked for. The rarer cases (no link to
// read, a deleted image, a leader that has exited, an older kernel) pay for
// themselves.
//
// Nothing here follows a path that a process names (its exe link's text,
// its cwd, its root): a file system that never answers could hold the
// whole enumeration. What is read of a process's files goes through the
// magic links of /proc and asks only for cached attributes.
//
// The facts of every process are read first, then the block is allocated
// once at its exact size: the records, then the SIDs, then the names.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "../utf.h"
#include "exelink.h"
#include "sid.h"
#include "winapi_posix.h"

enum {
	DirentBytes = 64 * 1024,
	// "PID/", "PID/task/TID/" and a leaf after them.
	PathBytes = 64,
	// A task name (up to 64 bytes for a kernel thread) and its line feed.
	CommBytes = 128,
	// The NSpid line of a status file is looked for in pieces of this size.
	StatusBytes = 4096,
	LinkBytes = PATH_MAX
};

// What ReadProcess returns for a process that is not listed; no errno
// value is negative.
static const int LeftOut = -1;

// One process as its record will show it; its name starts at unit nameAt
// of Names. Small, since there is one per process until the block is made.
struct Facts {
	DWORD pid;
	DWORD session;
	DWORD uid;
	DWORD threads;
	DWORD handles;
	DWORD nameAt;
};

// The names of the processes kept so far, each terminated, back to back.
struct Names {
	WCHAR *units;
	size_t used;
	size_t capacity;
};

// Buffers of one enumeration, taken once per call rather than per process.
// Each kind of directory walk has its own batch buffer, so that a walk
// inside another (a thread's descriptors among the threads) leaves the
// outer one's batch whole.
struct Scratch {
	int procFd;
	alignas(struct dirent64) char pidEntries[DirentBytes];
	alignas(struct dirent64) char threadEntries[DirentBytes];
	alignas(struct dirent64) char fdEntries[DirentBytes];
	// The task name or the exe link's target of the process being read.
	char comm[CommBytes];
	char link[LinkBytes + 1];
};

// A process whose files are gone (it ended) or hidden from this user is
// left out; any other failure fails the enumeration.
static bool IsGoneOrHidden(int error)
{
	return error == ENOENT || error == ESRCH || error == EACCES || error == EPERM;
}

static DWORD ClampTo32(uint64_t v)
{
	return v > UINT32_MAX ? UINT32_MAX : (DWORD)v;
}

// directory and leaf joined in path, a buffer of PathBytes; returns path.
static const char *Path(char *path, const char *directory, const char *leaf)
{
	stpcpy(stpcpy(path, directory), leaf);
	return path;
}

// A name of 1 to 10 digits, not starting with 0: a pid or a tid.
static bool IsIdName(const char *name)
{
	size_t n = 0;

	if (name[0] < '1' || name[0] > '9')
		return false;
	while (n <= 10 && name[n] >= '0' && name[n] <= '9')
		n++;
	return n <= 10 && name[n] == 0;
}

// A directory read in getdents64's batches into the buffer it was given.
struct DirWalk {
	int fd;
	char *batch;
	size_t batchBytes;
	ssize_t size;
	ssize_t at;
};

// The next entry's name, or NULL at the end (*error 0) or when a read
// fails (*error set).
static const char *NextEntry(DirWalk *w, int *error)
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

// "PID/", the process's directory, in leader (PathBytes).
static void SetLeader(char *leader, DWORD pid)
{
	char digits[12];
	char *end = leader;
	int n = 0;

	do {
		digits[n++] = (char)('0' + pid % 10);
		pid /= 10;
	} while (pid > 0);
	while (n > 0)
		*end++ = digits[--n];
	stpcpy(end, "/");
}

// "PID/task/TID/" in thread (PathBytes).
static void SetThread(char *thread, const char *leader, const char *tid)
{
	stpcpy(stpcpy(stpcpy(stpcpy(thread, leader), "task/"), tid), "/");
}

// The session, as this process's pid namespace (that of /proc) names it.
static int ReadSession(Facts *f)
{
	pid_t session = getsid((pid_t)f->pid);

	if (session < 0)
		return errno;
	f->session = (DWORD)session;
	return 0;
}

// The kernel gives every world-readable directory of a process the
// process's effective ids, whatever its dumpable state; the task directory
// also counts two links besides one per thread. A zombie still counts its
// one thread: none means the process was reaped between the lookup of the
// path and the reading of its attributes, after which the other reads
// would find nothing, or a new process that took the pid. No test can
// hold that window open within one call.
static int ReadOwnerAndThreads(const Scratch *s, const char *leader, Facts *f)
{
	char path[PathBytes];
	struct stat st;

	if (fstatat(s->procFd, Path(path, leader, "task"), &st, 0) != 0)
		return errno;
	if (st.st_nlink < 3)
		return ESRCH;
	f->uid = (DWORD)st.st_uid;
	f->threads = ClampTo32(st.st_nlink - 2);
	return 0;
}

// The target of the exe link under base, terminated, in s->link. A target
// cut short is ENAMETOOLONG.
static int ReadExeLink(Scratch *s, const char *base, size_t *length)
{
	char path[PathBytes];
	ssize_t n = readlinkat(s->procFd, Path(path, base, "exe"), s->link, LinkBytes);

	if (n < 0)
		return errno;
	if (n == 0 || n >= LinkBytes)
		return ENAMETOOLONG;
	s->link[n] = 0;
	*length = (size_t)n;
	return 0;
}

// A leader that has exited leaves neither exe nor fd while its threads run
// on: the first thread whose link reads gives it, and its directory goes
// to base. ENOENT when none does; base is then left as it was.
static int ReadExeLinkOfAThread(Scratch *s, const char *leader, char *base, size_t *length)
{
	char path[PathBytes], thread[PathBytes];
	int fd = openat(s->procFd, Path(path, leader, "task"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DirWalk walk = {fd, s->threadEntries, sizeof s->threadEntries, 0, 0};
	const char *tid;
	int error = ENOENT, readError = 0;

	if (fd < 0)
		return errno;
	while (error == ENOENT && (tid = NextEntry(&walk, &readError)) != NULL) {
		if (!IsIdName(tid))
			continue;
		SetThread(thread, leader, tid);
		error = ReadExeLink(s, thread, length);
	}
	if (readError != 0)
		error = readError;
	close(fd);
	if (error == 0)
		stpcpy(base, thread);
	return error;
}

// The kernel marks the link of an image whose file was removed with
// " (deleted)", but a file may be named so. The mark is the kernel's when
// the running file itself has no link left. The attributes are those of
// the open file (the magic link is followed without a path lookup), and
// AT_STATX_DONT_SYNC takes them from the cache where a file system would
// ask its server (FUSE, NFS): one that never answers cannot hold us here.
// (No test runs an image from such a file system: the tests' own never
// answers a lookup, so nothing can be started from it.)
static bool ImageIsGone(const Scratch *s, const char *base)
{
	char path[PathBytes];
	struct statx image;

	if (statx(s->procFd, Path(path, base, "exe"), AT_STATX_DONT_SYNC, STATX_NLINK, &image) != 0)
		return true;
	return image.stx_nlink == 0;
}

// The task name, from the leader's comm: the name as the task set it
// (unlike status, comm does not escape it) and a line feed.
static int ReadTaskName(Scratch *s, const char *leader, const char **name, size_t *length)
{
	char path[PathBytes];
	int fd = openat(s->procFd, Path(path, leader, "comm"), O_RDONLY | O_CLOEXEC | O_NOCTTY);
	ssize_t n;
	int error = 0;

	if (fd < 0)
		return errno;
	n = read(fd, s->comm, sizeof s->comm);
	if (n < 0)
		error = errno;
	close(fd);
	if (error != 0)
		return error;
	if (n > 0 && s->comm[n - 1] == '\n')
		n--;
	*name = s->comm;
	*length = (size_t)n;
	return 0;
}

// The image name: the last part of the exe link's target, in s->link. The
// task name (in s->comm) stands in where the link cannot be read (a kernel
// thread, a zombie, another user's process) or names nothing. base is
// where the link was read: the leader, or the thread that stood in for it.
static int ReadName(Scratch *s, const Facts *f, const char *leader, char *base, const char **name,
                    size_t *length)
{
	size_t n = 0;
	int error = ReadExeLink(s, leader, &n);

	stpcpy(base, leader);
	if (error == ENOENT && f->threads > 1)
		error = ReadExeLinkOfAThread(s, leader, base, &n);
	if (error == 0) {
		bool gone = HasDeletedMark(s->link, n) && ImageIsGone(s, base);
		if (ImageNameFromLink(s->link, n, gone, name, length))
			return 0;
	} else if (!IsGoneOrHidden(error) && error != ENAMETOOLONG) {
		return error;
	}
	return ReadTaskName(s, leader, name, length);
}

// The entries of the fd directory under base, for kernels that do not give
// their number as its size. Only the owner (and root) may read another
// process's fd directory: 0 for the others.
static int CountEntries(Scratch *s, const char *base, DWORD *count)
{
	char path[PathBytes];
	int fd = openat(s->procFd, Path(path, base, "fd"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DirWalk walk = {fd, s->fdEntries, sizeof s->fdEntries, 0, 0};
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

// The open descriptors as the fd directory under base shows them. Since
// Linux 6.2 its size is their number, for any user; a size of 0 (older
// kernels, or truly none) falls back to counting the entries.
static int ReadHandlesAt(Scratch *s, const char *base, DWORD *handles)
{
	char path[PathBytes];
	struct stat st;

	if (fstatat(s->procFd, Path(path, base, "fd"), &st, 0) != 0)
		return errno;
	if (st.st_size > 0) {
		*handles = ClampTo32((uint64_t)st.st_size);
		return 0;
	}
	return CountEntries(s, base, handles);
}

// A leader that has exited shows no descriptors while its threads run on
// with the table they share: the first other thread still there gives the
// number. Threads that end meanwhile are passed over (a race between two
// calls, which no test holds open).
static int ReadHandlesOfAThread(Scratch *s, const char *leader, Facts *f)
{
	char path[PathBytes], thread[PathBytes];
	int fd = openat(s->procFd, Path(path, leader, "task"), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DirWalk walk = {fd, s->threadEntries, sizeof s->threadEntries, 0, 0};
	const char *tid;
	int error = 0, threadError = ENOENT;

	if (fd < 0)
		return errno;
	while (IsGoneOrHidden(threadError) && (tid = NextEntry(&walk, &error)) != NULL) {
		if (!IsIdName(tid) || strtoul(tid, NULL, 10) == f->pid)
			continue;
		SetThread(thread, leader, tid);
		threadError = ReadHandlesAt(s, thread, &f->handles);
	}
	close(fd);
	if (error == 0 && !IsGoneOrHidden(threadError))
		error = threadError;
	return error;
}

// The open descriptors, as base shows them; through another thread where
// base is the leader, it shows none and other threads run: whoever asks,
// the leader's exit leaves nothing there.
static int ReadHandles(Scratch *s, Facts *f, const char *leader, const char *base)
{
	int error = ReadHandlesAt(s, base, &f->handles);

	if (error == 0 && f->handles == 0 && f->threads > 1 && strcmp(base, leader) == 0)
		error = ReadHandlesOfAThread(s, leader, f);
	return error;
}

// Adds a name, decoded, to names.
static int KeepName(Names *names, const char *name, size_t length, Facts *f)
{
	// No byte becomes more than one unit; one more for the terminator.
	size_t need = length + 1;

	if (names->used + need > UINT32_MAX)
		return ENOMEM;
	if (names->capacity - names->used < need) {
		size_t grown = names->capacity * 2 > names->used + need ? names->capacity * 2
		                                                        : names->used + need;
		WCHAR *bigger = (WCHAR *)realloc(names->units, grown * sizeof(WCHAR));
		if (bigger == NULL)
			return ENOMEM;
		names->units = bigger;
		names->capacity = grown;
	}
	f->nameAt = (DWORD)names->used;
	names->used += Utf8ToUtf16(name, length, names->units + names->used, length, NULL);
	names->units[names->used++] = 0;
	return 0;
}

// Reads one process into *f and its name into names. Returns 0 when it is
// to be listed, LeftOut when it ended, is hidden or is in another session,
// or an errno value when the enumeration cannot go on. Every fact is read
// before the name is kept, so that no half-read process leaves a trace.
static int ReadProcess(Scratch *s, Names *names, DWORD sessionId, DWORD pid, Facts *f)
{
	char leader[PathBytes], base[PathBytes];
	const char *name = NULL;
	size_t length = 0;
	int error;

	memset(f, 0, sizeof *f);
	f->pid = pid;
	SetLeader(leader, pid);
	error = sessionId == WTS_ANY_SESSION ? 0 : ReadSession(f);
	if (error == 0 && sessionId != WTS_ANY_SESSION && f->session != sessionId)
		return LeftOut;
	if (error == 0)
		error = ReadOwnerAndThreads(s, leader, f);
	if (error == 0)
		error = ReadName(s, f, leader, base, &name, &length);
	if (error == 0)
		error = ReadHandles(s, f, leader, base);
	if (error != 0)
		return IsGoneOrHidden(error) ? LeftOut : error;
	return KeepName(names, name, length, f);
}

// The pids /proc lists, each once and in increasing order, one Facts each
// with only the pid set. The kernel lists a proc directory's pids in
// ascending order, across getdents calls too (it resumes after the last pid
// it gave); so a pid not above the one before can only be a repeat after a
// concurrent change, and is dropped. Returns 0 or an errno value.
static int ListPids(Scratch *s, Facts **facts, size_t *count)
{
	DirWalk walk = {s->procFd, s->pidEntries, sizeof s->pidEntries, 0, 0};
	size_t capacity = 0;
	DWORD previous = 0;
	const char *name;
	int error = 0;

	*facts = NULL;
	*count = 0;
	while ((name = NextEntry(&walk, &error)) != NULL) {
		uint64_t pid = 0;

		if (!IsIdName(name))
			continue;
		for (const char *c = name; *c != 0; c++)
			pid = pid * 10 + (uint64_t)(*c - '0');
		if (pid > INT_MAX || pid <= previous)
			continue;
		if (*count == capacity) {
			size_t grown = capacity == 0 ? 1024 : capacity * 2;
			Facts *bigger = (Facts *)realloc(*facts, grown * sizeof(Facts));
			if (bigger == NULL)
				return ENOMEM;
			*facts = bigger;
			capacity = grown;
		}
		(*facts)[(*count)++].pid = (DWORD)pid;
		previous = (DWORD)pid;
	}
	return error;
}

// Lays the kept processes out in one block of the exact size: the records,
// then a SID per record, then the names. NULL when there is no memory.
static WTS_PROCESS_INFO_EXW *MakeBlock(const Facts *facts, size_t count, const Names *names)
{
	size_t recordBytes = count * sizeof(WTS_PROCESS_INFO_EXW);
	size_t sidBytes = count * UnixSidBytes;
	size_t nameBytes = names->used * sizeof(WCHAR);
	BYTE *block = (BYTE *)malloc(recordBytes + sidBytes + nameBytes + 1);
	WTS_PROCESS_INFO_EXW *records;
	BYTE *sids;
	WCHAR *text;

	if (block == NULL)
		return NULL;
	records = (WTS_PROCESS_INFO_EXW *)block;
	sids = block + recordBytes;
	text = (WCHAR *)(sids + sidBytes);
	if (names->units != NULL)
		memcpy(text, names->units, nameBytes);
	for (size_t i = 0; i < count; i++) {
		WTS_PROCESS_INFO_EXW *r = &records[i];
		memset(r, 0, sizeof *r);
		r->SessionId = facts[i].session;
		r->ProcessId = facts[i].pid;
		r->pProcessName = text + facts[i].nameAt;
		r->pUserSid = sids + i * UnixSidBytes;
		BuildUnixSid(r->pUserSid, UnixUserKind, facts[i].uid);
		r->NumberOfThreads = facts[i].threads;
		r->HandleCount = facts[i].handles;
	}
	return records;
}

// Reads every listed process, moving those to be shown to the front of
// facts: the slot written is never past the one whose pid is being read.
// Returns 0 or an errno value.
static int ReadAll(Scratch *s, DWORD sessionId, Facts *facts, size_t listed, Names *names,
                   size_t *kept)
{
	*kept = 0;
	for (size_t i = 0; i < listed; i++) {
		int result = ReadProcess(s, names, sessionId, facts[i].pid, &facts[*kept]);
		if (result == 0)
			(*kept)++;
		else if (result != LeftOut)
			return result;
	}
	return 0;
}

// Builds the list: the pids, then the facts of each process, then the block.
static int BuildList(int procFd, DWORD sessionId, WTS_PROCESS_INFO_EXW **list, DWORD *count)
{
	Scratch *s = (Scratch *)malloc(sizeof(Scratch));
	Names names = {NULL, 0, 0};
	Facts *facts = NULL;
	size_t listed = 0, kept = 0;
	int error;

	if (s == NULL)
		return ENOMEM;
	s->procFd = procFd;
	error = ListPids(s, &facts, &listed);
	if (error == 0)
		error = ReadAll(s, sessionId, facts, listed, &names, &kept);
	if (error == 0) {
		*list = MakeBlock(facts, kept, &names);
		*count = (DWORD)kept;
		if (*list == NULL)
			error = ENOMEM;
	}
	free(names.units);
	free(facts);
	free(s);
	return error;
}

// /proc must be a process file system that knows this process: a bare
// directory or one from another pid namespace cannot give a true table.
static int OpenProc(int *procFd)
{
	struct statfs fs;
	char self[32];
	int fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);

	if (fd < 0)
		return errno == ENOTDIR ? ENOENT : errno;
	if (fstatfs(fd, &fs) != 0) {
		int error = errno;
		close(fd);
		return error;
	}
	if (fs.f_type != PROC_SUPER_MAGIC || readlinkat(fd, "self", self, sizeof self) <= 0) {
		close(fd);
		return ENOENT;
	}
	*procFd = fd;
	return 0;
}

// The number of pids on this process's NSpid line in /proc, one per pid
// namespace it is in from that of /proc down (Linux 4.1 and later); 0 when
// there is no such line. Scanned a byte at a time, as the Groups line
// before it may be longer than any buffer.
static int CountOwnPids(int procFd, int *pids)
{
	static const char key[] = "\nNSpid:";
	char chunk[StatusBytes];
	size_t matched = 0;
	ssize_t n = 0;
	int fd = openat(procFd, "self/status", O_RDONLY | O_CLOEXEC | O_NOCTTY), error = 0;
	bool inLine = false, done = false;

	*pids = 0;
	if (fd < 0)
		return errno;
	while (!done && (n = read(fd, chunk, sizeof chunk)) > 0) {
		for (ssize_t i = 0; i < n && !done; i++) {
			done = inLine && chunk[i] == '\n';
			if (inLine) {
				*pids += chunk[i] == '\t';
				continue;
			}
			// A line feed that breaks a match starts the key again.
			if (chunk[i] == key[matched])
				matched++;
			else
				matched = chunk[i] == '\n' ? 1 : 0;
			inLine = matched == sizeof key - 1;
		}
	}
	if (n < 0)
		error = errno;
	close(fd);
	return error;
}

// getsid answers in this process's pid namespace, /proc in its own, so a
// session filter is served only where the two are one: NSpid holds one
// pid. Kernels before 4.1 have no NSpid; there /proc must name this
// process by its own pid. A /proc of an ancestor namespace (`unshare --pid
// --fork` over the parent's) fails with ENOENT, as a /proc that cannot
// give a true table.
static int CheckOwnPidNamespace(int procFd)
{
	char self[16];
	ssize_t n;
	int pids = 0, error = CountOwnPids(procFd, &pids);

	if (error != 0)
		return error;
	if (pids > 0)
		return pids == 1 ? 0 : ENOENT;
	n = readlinkat(procFd, "self", self, sizeof self - 1);
	if (n <= 0)
		return ENOENT;
	self[n] = 0;
	return strtol(self, NULL, 10) == (long)getpid() ? 0 : ENOENT;
}

// pLevel is in and out on Windows, so not const here either.
BOOL WTSEnumerateProcessesExW(HANDLE hServer, DWORD *pLevel, DWORD SessionId, // NOLINT(readability-non-const-parameter)
                              LPWSTR *ppProcessInfo, DWORD *pCount)
{
	WTS_PROCESS_INFO_EXW *list = NULL;
	DWORD count = 0;
	int procFd = -1, error;

	if (hServer != WTS_CURRENT_SERVER_HANDLE || pLevel == NULL || *pLevel != 1 ||
	    ppProcessInfo == NULL || pCount == NULL) {
		SetLastError(EINVAL);
		return FALSE;
	}
	error = OpenProc(&procFd);
	if (error == 0 && SessionId != WTS_ANY_SESSION) {
		error = CheckOwnPidNamespace(procFd);
		if (error != 0)
			close(procFd);
	}
	if (error == 0) {
		error = BuildList(procFd, SessionId, &list, &count);
		close(procFd);
	}
	if (error != 0) {
		SetLastError((DWORD)error);
		return FALSE;
	}
	*ppProcessInfo = (LPWSTR)list;
	*pCount = count;
	return TRUE;
}

BOOL WTSFreeMemoryExW(WTS_TYPE_CLASS WTSTypeClass, PVOID pMemory,
                      ULONG NumberOfEntries)
{
	(void)NumberOfEntries;
	if (pMemory == NULL)
		return TRUE;
	if (WTSTypeClass != WTSTypeProcessInfoLevel1) {
		SetLastError(EINVAL);
		return FALSE;
	}
	free(pMemory);
	return TRUE;
}
