// Pure functions over the text of a process's exe link (the target of
// /proc/PID/exe as readlink gives it), as (buffer, length): no reads, no
// allocation, never a byte past the length.
#ifndef EXELINK_H
#define EXELINK_H

#include <cstddef>

// Whether link ends with " (deleted)", with something before it: the mark
// the kernel puts after the target of /proc/PID/exe once the image's file
// has been removed. A file may also be named so.
bool HasDeletedMark(const char *link, size_t length);

// The image name in the target of /proc/PID/exe: its last path component,
// without the mark when dropMark is true and the mark is there (the caller
// knows whether the file is really gone). Fails when nothing is left.
bool ImageNameFromLink(const char *link, size_t length, bool dropMark, const char **name,
                       size_t *nameLength);

#endif
