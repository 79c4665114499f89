// Parsing of the files a Linux process directory offers, as pure functions
// over (buffer, length): no reads, no allocation, never a byte past the
// length, and a plain false for anything malformed or cut short.
#ifndef PROCFS_H
#define PROCFS_H

#include <cstddef>
#include <cstdint>

#include "winapi_posix.h"

// What /proc/PID/stat tells. comm points into the parsed buffer.
struct ProcStat {
	const char *comm;
	size_t commLength;
	uint32_t session;
	uint64_t userTicks;
	uint64_t systemTicks;
	uint32_t threads;
};

// The comm is whatever lies between the first '(' and the last ')', since
// a task may name itself with parentheses and blanks. Fails unless every
// field up to the thread count is present and numeric.
bool ParseStat(const char *buffer, size_t length, ProcStat *stat);

// What /proc/PID/status tells. A field's flag says whether it was found.
// name points into the parsed buffer, still escaped as the kernel writes it.
struct ProcStatus {
	bool hasName;
	const char *name;
	size_t nameLength;
	bool hasEffectiveUid;
	uint32_t effectiveUid;
	bool hasSession;
	uint32_t session;
	bool hasThreads;
	uint32_t threads;
	bool hasResident;
	uint64_t residentBytes;
	bool hasPeakResident;
	uint64_t peakResidentBytes;
};

// Reads the fields it knows from their lines ("Name:" and its tab, then
// the rest of the line; "Uid:" second field; "NSsid:" first field, the
// session as this /proc's pid namespace sees it; "Threads:"; "VmRSS:" and
// "VmHWM:" in kB); a malformed line, or a last line without its line feed,
// leaves its flag false. Fails only for a null buffer or status.
bool ParseStatus(const char *buffer, size_t length, ProcStatus *status);

// Undoes the kernel's escaping of the task name in status: a backslash
// and an "n" stand for a line feed, two backslashes for one, and a
// backslash before anything else stands as it is. Writes at most capacity
// bytes; returns the bytes written.
size_t DecodeTaskName(const char *src, size_t length, char *dest, size_t capacity);

// The image name in the target of /proc/PID/exe: its last path component
// without the kernel's " (deleted)" mark. Fails when nothing is left.
bool ImageNameFromLink(const char *link, size_t length, const char **name,
                       size_t *nameLength);

// Converts a UTF-8 name to wide text fit for one table cell: invalid bytes
// become U+FFFD; control characters (U+0000..U+001F, U+007F..U+009F), the
// line and paragraph separators (U+2028, U+2029) and the bidirectional
// controls (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) '?'.
// Writes at most capacity - 1 units and a terminator (capacity > 0);
// returns the units written before the terminator.
size_t SanitizeName(const char *src, size_t length, WCHAR *dest, size_t capacity);

// Units SanitizeName needs for src, terminator included: never more than
// length + 1, since no byte becomes more than one unit.
inline size_t SanitizedCapacity(size_t length)
{
	return length + 1;
}

#endif
