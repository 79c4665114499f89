// Reading /proc: directories in batches, the ids that name processes and
// threads, and one process: owner, threads, descriptors, image name.
#ifndef PROCESS_H
#define PROCESS_H

#include <climits>
#include <dirent.h>
#include <sys/types.h>

#include "winapi_posix.h"

enum { DirentBytes = 64 * 1024, CommBytes = 128 };

// A directory read with getdents64, in batches into the buffer it was given.
struct DirWalk {
	int fd;
	char *batch;
	size_t batchBytes;
	ssize_t size;
	ssize_t at;
};

// The next entry's name; NULL at the end (*error 0) or when a read fails
// (*error set).
const char *NextEntry(DirWalk *w, int *error);

// The pid or tid a directory's name gives: 1 to INT_MAX in decimal, without
// a leading 0; 0 for any other name.
DWORD ParseId(const char *name);

// Buffers taken once per enumeration. The thread walk and the descriptor
// walk inside it each have their own batch.
struct ProcessReader {
	int procFd;
	alignas(struct dirent64) char threadEntries[DirentBytes];
	alignas(struct dirent64) char fdEntries[DirentBytes];
	char comm[CommBytes];
	char link[PATH_MAX];
};

struct ProcessFacts {
	DWORD pid;
	DWORD uid;
	DWORD threads;
	DWORD handles;
};

// A process not listed; no errno value is negative.
const int LeftOut = -1;

// Reads process pid of the /proc at r->procFd into *f, and its image name,
// UTF-8 in r's buffers, into *name and *length. 0; LeftOut when the process
// has ended or is hidden from this user; or an errno value that fails the
// enumeration.
int ReadProcess(ProcessReader *r, DWORD pid, ProcessFacts *f, const char **name, size_t *length);

#endif
