// Compiled in the Windows builds only, as a check: a platform header that
// already declares the extended enumeration (as newer ones do) must not
// clash with the declarations the catalogue header adds for older ones.
// The newer header is played by the catalogue's own declarations, given
// first with the generic name a newer header defines; were the catalogue
// header to add them again, the types would be defined twice.
#include <windows.h>
#include <wtsapi32.h>

#ifndef WTSEnumerateProcessesEx
#include "wtsex.h"
#undef WTSEX_H
#define WTSEnumerateProcessesEx WTSEnumerateProcessesExW
#define WTS_ANY_SESSION ((DWORD)-2)
#endif

#include "winapi.h"
