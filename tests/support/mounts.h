// The one safe way for a test to change /proc: in a mount namespace of its
// own, whose mounts the machine never sees.
#ifndef TEST_MOUNTS_H
#define TEST_MOUNTS_H

// Moves this process into a new mount namespace and makes every mount in it
// private, so that what it mounts afterwards (a new proc instance, a tmpfs
// over /proc) stays inside. Needs root. Returns NULL, or what failed with
// errno set.
const char *EnterPrivateMounts(void);

#endif
