// Process enumeration over /proc: one record per process, all in one
// block: the records back to back, then the SIDs and names they point to.
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

#include "procfs.h"
#include "sid.h"
#include "winapi_posix.h"

enum {
	DirentBytes = 64 * 1024,
	// One line of 52 fields; the comm is at most 64 bytes.
	StatBytes = 2048,
	// The fields wanted come early; a longer file (many supplementary
	// groups) loses the lines after them, and stat stands in for the
	// session and the thread count.
	StatusBytes = 8192,
	LinkBytes = PATH_MAX
};

// Buffers of one enumeration, taken once per call rather than per process.
struct Scratch {
	char dirents[DirentBytes];
	char stat[StatBytes];
	char status[StatusBytes];
	char taskName[StatusBytes];
	char link[LinkBytes];
	WCHAR name[LinkBytes];
};

// What one process contributes before it is placed in the block.
struct Found {
	WTS_PROCESS_INFO_EXW record;
	size_t nameLength;
	bool hasUid;
	DWORD uid;
};

// A process whose directory or files are gone (it ended, or this user may
// not see it) is left out; any other failure fails the enumeration.
static bool IsGone(int error)
{
	return error == ENOENT || error == ESRCH || error == EACCES || error == EPERM;
}

// One open, one read, one close. Returns the bytes read, or -1 with errno.
static ssize_t ReadFileAt(int dirFd, const char *name, char *buffer, size_t size)
{
	int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
	ssize_t n;
	int error;

	if (fd < 0)
		return -1;
	n = read(fd, buffer, size);
	error = errno;
	close(fd);
	errno = error;
	return n;
}

// The open descriptors of a process: the entries of its fd directory.
// Since Linux 6.2 the directory's size is that count, a far cheaper answer
// than reading the entries; a size of 0 (older kernels, or truly none)
// falls back to reading them. Opening the directory first keeps the rule
// of who may see them. -1 with errno when it cannot be opened or read.
static long CountDescriptors(int dirFd, char *buffer, size_t size)
{
	int fd = openat(dirFd, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	struct stat st;
	long count = 0;
	ssize_t n;

	if (fd < 0)
		return -1;
	if (fstat(fd, &st) == 0 && st.st_size > 0) {
		close(fd);
		return st.st_size > LONG_MAX ? LONG_MAX : (long)st.st_size;
	}
	while ((n = getdents64(fd, buffer, size)) > 0) {
		for (ssize_t at = 0; at < n;) {
			const struct dirent64 *d = (const struct dirent64 *)(buffer + at);
			if (!(d->d_name[0] == '.' && (d->d_name[1] == 0 ||
			      (d->d_name[1] == '.' && d->d_name[2] == 0))))
				count++;
			at += d->d_reclen;
		}
	}
	if (n < 0) {
		int error = errno;
		close(fd);
		errno = error;
		return -1;
	}
	close(fd);
	return count;
}

static DWORD ClampTo32(uint64_t v)
{
	return v > UINT32_MAX ? UINT32_MAX : (DWORD)v;
}

static int64_t TicksTo100ns(uint64_t ticks, long ticksPerSecond)
{
	if (ticksPerSecond <= 0 || ticks > (uint64_t)INT64_MAX / 10000000)
		return 0;
	return (int64_t)(ticks * 10000000 / (uint64_t)ticksPerSecond);
}

static void PidText(int pid, char *text)
{
	char digits[12];
	int n = 0;

	do {
		digits[n++] = (char)('0' + pid % 10);
		pid /= 10;
	} while (pid > 0);
	while (n > 0)
		*text++ = digits[--n];
	*text = 0;
}

// Reads one process into *found. Returns 1 when it is to be listed, 0 when
// it is left out (gone, hidden, or in another session), -1 with errno when
// the enumeration cannot go on.
static int ReadProcess(int procFd, int pid, DWORD sessionId, long ticksPerSecond,
                       Scratch *s, Found *found)
{
	char pidText[16];
	ProcStat stat;
	ProcStatus status;
	const char *name;
	size_t nameBytes;
	ssize_t n;
	long handles;
	int dirFd, error, result = 0;

	PidText(pid, pidText);
	dirFd = openat(procFd, pidText, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (dirFd < 0)
		return IsGone(errno) ? 0 : -1;

	n = ReadFileAt(dirFd, "status", s->status, sizeof s->status);
	if (n < 0) {
		result = IsGone(errno) ? 0 : -1;
		goto done;
	}
	ParseStatus(s->status, (size_t)n, &status);
	// What stat tells, from status when it has all of it.
	if (status.hasName && status.hasSession && status.hasThreads) {
		stat.comm = s->taskName;
		stat.commLength = DecodeTaskName(status.name, status.nameLength, s->taskName,
		                                 sizeof s->taskName);
		stat.session = status.session;
		stat.threads = status.threads;
		// Not in status, and not worth a second file.
		stat.userTicks = 0;
		stat.systemTicks = 0;
	} else {
		// A kernel before 4.1, or without pid namespaces, has no NSsid line;
		// a status cut short by many groups lacks it too.
		n = ReadFileAt(dirFd, "stat", s->stat, sizeof s->stat);
		if (n < 0) {
			result = IsGone(errno) ? 0 : -1;
			goto done;
		}
		if (!ParseStat(s->stat, (size_t)n, &stat))
			goto done;
	}
	if (sessionId != WTS_ANY_SESSION && stat.session != sessionId)
		goto done;
	// Even a zombie counts its one thread; none left means the process was
	// reaped while it was being read.
	if (stat.threads == 0)
		goto done;

	n = readlinkat(dirFd, "exe", s->link, sizeof s->link);
	if (n > 0 && (size_t)n < sizeof s->link &&
	    ImageNameFromLink(s->link, (size_t)n, &name, &nameBytes)) {
		// The image name.
	} else {
		name = stat.comm;
		nameBytes = stat.commLength;
	}
	found->nameLength = SanitizeName(name, nameBytes, s->name, sizeof s->name / sizeof s->name[0]);

	handles = CountDescriptors(dirFd, s->dirents, sizeof s->dirents);
	if (handles < 0) {
		if (!IsGone(errno)) {
			result = -1;
			goto done;
		}
		handles = 0;
	}

	memset(&found->record, 0, sizeof found->record);
	found->record.SessionId = stat.session;
	found->record.ProcessId = (DWORD)pid;
	found->record.NumberOfThreads = stat.threads;
	found->record.HandleCount = ClampTo32((uint64_t)handles);
	if (status.hasResident)
		found->record.WorkingSetSize = ClampTo32(status.residentBytes);
	if (status.hasPeakResident)
		found->record.PeakWorkingSetSize = ClampTo32(status.peakResidentBytes);
	found->record.UserTime.QuadPart = TicksTo100ns(stat.userTicks, ticksPerSecond);
	found->record.KernelTime.QuadPart = TicksTo100ns(stat.systemTicks, ticksPerSecond);
	found->hasUid = status.hasEffectiveUid;
	found->uid = status.effectiveUid;
	result = 1;
done:
	// The caller reads errno when the result is -1.
	error = errno;
	close(dirFd);
	errno = error;
	return result;
}

// The pids /proc lists, each once and in increasing order.
static int *ListPids(int procFd, char *buffer, size_t size, size_t *count)
{
	int *pids = NULL;
	size_t used = 0, capacity = 0;
	int previous = 0;
	ssize_t n;

	while ((n = getdents64(procFd, buffer, size)) > 0) {
		for (ssize_t at = 0; at < n;) {
			const struct dirent64 *d = (const struct dirent64 *)(buffer + at);
			const char *c = d->d_name;
			long pid = 0;

			at += d->d_reclen;
			if (*c < '1' || *c > '9')
				continue;
			while (*c >= '0' && *c <= '9' && pid <= INT_MAX)
				pid = pid * 10 + (*c++ - '0');
			// A pid the listing repeats after a concurrent change is
			// skipped: every pid at most once.
			if (*c != 0 || pid > INT_MAX || pid <= previous)
				continue;
			if (used == capacity) {
				size_t grown = capacity == 0 ? 1024 : capacity * 2;
				int *bigger = (int *)realloc(pids, grown * sizeof *pids);
				if (bigger == NULL) {
					free(pids);
					errno = ENOMEM;
					return NULL;
				}
				pids = bigger;
				capacity = grown;
			}
			pids[used++] = (int)pid;
			previous = (int)pid;
		}
	}
	if (n < 0) {
		int error = errno;
		free(pids);
		errno = error;
		return NULL;
	}
	if (pids == NULL)
		pids = (int *)malloc(sizeof *pids);
	if (pids == NULL)
		errno = ENOMEM;
	*count = used;
	return pids;
}

static size_t AlignUp(size_t v, size_t to)
{
	return (v + to - 1) / to * to;
}

// Builds the list. The block starts with room for a record per pid and
// the text behind it; the text is placed by offset while the block may
// still move, and the pointers set once it is final.
static int BuildList(int procFd, DWORD sessionId, WTS_PROCESS_INFO_EXW **list, DWORD *count)
{
	const size_t recordBytes = sizeof(WTS_PROCESS_INFO_EXW);
	Scratch *s;
	int *pids;
	size_t pidCount = 0, listed = 0, textUsed = 0, textCapacity, textStart, total;
	long ticksPerSecond = sysconf(_SC_CLK_TCK);
	BYTE *block = NULL;
	int error = 0;

	s = (Scratch *)malloc(sizeof *s);
	if (s == NULL)
		return ENOMEM;
	pids = ListPids(procFd, s->dirents, sizeof s->dirents, &pidCount);
	if (pids == NULL) {
		error = errno;
		free(s);
		return error;
	}
	textStart = pidCount * recordBytes;
	// A SID and a name of 24 characters each, to begin with.
	textCapacity = pidCount * (UnixSidBytes + 24 * sizeof(WCHAR)) + 64;
	block = (BYTE *)malloc(textStart + textCapacity);
	if (block == NULL)
		error = ENOMEM;

	for (size_t i = 0; error == 0 && i < pidCount; i++) {
		Found found;
		WTS_PROCESS_INFO_EXW *record;
		size_t sidAt, nameAt, end;
		int r = ReadProcess(procFd, pids[i], sessionId, ticksPerSecond, s, &found);

		if (r < 0) {
			error = errno;
			break;
		}
		if (r == 0)
			continue;
		sidAt = AlignUp(textUsed, alignof(DWORD));
		nameAt = found.hasUid ? sidAt + UnixSidBytes : sidAt;
		end = nameAt + (found.nameLength + 1) * sizeof(WCHAR);
		if (end > textCapacity) {
			size_t grown = textCapacity * 2 > end ? textCapacity * 2 : end;
			BYTE *bigger = (BYTE *)realloc(block, textStart + grown);
			if (bigger == NULL) {
				error = ENOMEM;
				break;
			}
			block = bigger;
			textCapacity = grown;
		}
		if (found.hasUid)
			BuildUnixSid(block + textStart + sidAt, UnixUserKind, found.uid);
		memcpy(block + textStart + nameAt, s->name, (found.nameLength + 1) * sizeof(WCHAR));
		record = (WTS_PROCESS_INFO_EXW *)block + listed;
		*record = found.record;
		// Offsets for now; a SID's is kept one up so that null stays null.
		// NOLINTBEGIN(performance-no-int-to-ptr): never used as pointers
		record->pProcessName = (LPWSTR)(uintptr_t)nameAt;
		record->pUserSid = found.hasUid ? (PSID)(uintptr_t)(sidAt + 1) : NULL;
		// NOLINTEND(performance-no-int-to-ptr)
		textUsed = end;
		listed++;
	}
	free(pids);
	free(s);
	if (error != 0) {
		free(block);
		return error;
	}

	// Close the gap the processes that were left out would have used.
	memmove(block + listed * recordBytes, block + textStart, textUsed);
	textStart = listed * recordBytes;
	total = textStart + textUsed;
	if (total == 0)
		total = 1;
	{
		BYTE *smaller = (BYTE *)realloc(block, total);
		if (smaller != NULL)
			block = smaller;
	}
	for (size_t i = 0; i < listed; i++) {
		WTS_PROCESS_INFO_EXW *record = (WTS_PROCESS_INFO_EXW *)block + i;
		record->pProcessName = (LPWSTR)(block + textStart + (uintptr_t)record->pProcessName);
		if (record->pUserSid != NULL)
			record->pUserSid = block + textStart + (uintptr_t)record->pUserSid - 1;
	}
	*list = (WTS_PROCESS_INFO_EXW *)block;
	*count = (DWORD)listed;
	return 0;
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
