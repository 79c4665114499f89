// The catalogue of Windows API calls both programs make, and the one place
// that picks the platform: on Windows the calls are the system's own,
// elsewhere the layer in posix/ provides the same names over the local
// system.
#ifndef WINAPI_H
#define WINAPI_H

#if defined(_WIN32)
#include "win/winapi_win.h"
#else
#include "posix/winapi_posix.h"
#endif

#endif
