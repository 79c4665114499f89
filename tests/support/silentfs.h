// A FUSE file system that never answers: its server answers the kernel's
// INIT and nothing after it, so that a lookup in it waits for as long as
// the server lives, immune to every signal once the server has read the
// request. The server is a child of the caller, ended by EndSilentFs, by
// the caller's own end (it dies with its parent) or after its lifetime,
// whichever comes first: so nothing can wait on it for longer.
#ifndef TEST_SILENTFS_H
#define TEST_SILENTFS_H

#include <sys/types.h>

// Mounts it over dir (root, in a private mount namespace: EnterPrivateMounts)
// and starts its server, which lives for at most seconds. The server's
// pid, or -1 with errno set.
pid_t MountSilentFs(const char *dir, unsigned seconds);

// Kills the server by pid and reaps it, which aborts every request still
// waiting, then detaches the mount.
void EndSilentFs(pid_t server, const char *dir);

#endif
