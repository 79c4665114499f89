#include "mounts.h"

#include <sched.h>
#include <sys/mount.h>

const char *EnterPrivateMounts(void)
{
	if (unshare(CLONE_NEWNS) != 0)
		return "unshare(CLONE_NEWNS)";
	// Mounts are shared with the parent namespace by default on systemd
	// machines: without this a mount on /proc would reach the machine's.
	if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
		return "making / private";
	return nullptr;
}
