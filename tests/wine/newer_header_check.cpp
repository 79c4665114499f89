// Compiled in the Windows builds only, as a check: a platform header that
// already declares part of the extended enumeration (mingw-w64 12 declares
// the type class and the release) must not clash with what the catalogue header adds. The
// newer header is played by the type class given first, with the mark the
// configure sets where it finds it; were the catalogue header to add it
// again, the type would be defined twice.
#include <windows.h>
#include <wtsapi32.h>

#ifndef OWNERROLL_HAVE_WTS_TYPE_CLASS
#define OWNERROLL_HAVE_WTS_TYPE_CLASS
typedef enum _WTS_TYPE_CLASS { WTSTypeProcessInfoLevel0, WTSTypeProcessInfoLevel1 } WTS_TYPE_CLASS;
#endif

#include "winapi.h"
