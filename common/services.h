// The catalogue of Windows services both programs call, and the one place
// that picks the platform: on Windows they are the system's own, elsewhere
// the layer in posix/ provides the same names over the local system.
#ifndef SERVICES_H
#define SERVICES_H

#if defined(_WIN32)
#include "win/winsvc_win.h"
#else
#include "posix/winsvc_posix.h"
#endif

#endif
