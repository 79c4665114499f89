// The Windows types and API calls the programs use, declared for a Unix
// system. Wide text is UTF-16 here as on Windows: WCHAR is char16_t and
// every length or capacity counts 16-bit units. The implementation lives
// beside this file.
#ifndef WINAPI_POSIX_H
#define WINAPI_POSIX_H

#include <cstddef>
#include <cstdint>

#define WIDE(s) u##s
#define WINAPI
#define DECLSPEC_IMPORT

typedef char16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD *LPDWORD;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int BOOL;
typedef int32_t HRESULT;
typedef size_t SIZE_T;
typedef void *PVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;
typedef void *HLOCAL;
typedef void *PSID;

typedef union _LARGE_INTEGER {
	int64_t QuadPart;
} LARGE_INTEGER;

#define TRUE 1
#define FALSE 0

#define S_OK ((HRESULT)0)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007A)

#define LMEM_ZEROINIT 0x40

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define SYSTEM_TEXT_LINE_END WIDE("\n")

#define WTS_CURRENT_SERVER_HANDLE ((HANDLE)NULL)
#define WTS_ANY_SESSION ((DWORD)0xFFFFFFFE)

// The kinds of account the layer gives.
typedef enum _SID_NAME_USE { SidTypeUser = 1, SidTypeGroup = 2 } SID_NAME_USE, *PSID_NAME_USE;

// The binary SID, laid out as on Windows.
typedef struct _SID_IDENTIFIER_AUTHORITY {
	BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY;

#define SID_MAX_SUB_AUTHORITIES 15

typedef struct _SID {
	BYTE Revision;
	BYTE SubAuthorityCount;
	SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
	DWORD SubAuthority[1];
} SID;

// Remote Desktop Services: process enumeration.
// WTSEnumerateProcessesExW serves this machine (WTS_CURRENT_SERVER_HANDLE)
// at level 1 for WTS_ANY_SESSION, from /proc; anything else fails with
// EINVAL. One record per process (thread group), each pid once, in
// increasing order: ProcessId, pProcessName (the image's file name, else
// the task name, decoded from UTF-8, bytes that are not becoming U+FFFD),
// pUserSid (the effective user, S-1-22-1-UID), NumberOfThreads and
// HandleCount (open descriptors; before Linux 6.2, 0 for processes whose
// descriptors this user may not list). The other fields are 0: no program
// reads them, and each would cost a system call more per process.
// WTSFreeMemoryExW takes WTSTypeProcessInfoLevel1 lists only.
#include "../wtsex.h"

// Security services.
// ConvertSidToStringSidW: any valid SID, as "S-1-<authority>-<sub>-...", in
// a block for LocalFree; a null or malformed SID fails (EINVAL).
BOOL ConvertSidToStringSidW(PSID Sid, LPWSTR *StringSid);
// LookupAccountSidW: this machine only (null lpSystemName); Unix users
// S-1-22-1-UID and groups S-1-22-2-GID through getpwuid_r/getgrgid_r, in
// the domains "Unix User" and "Unix Group", names decoded as above. Any
// other SID, or an id without a name, fails with ENOENT; buffers too small fail with ERANGE and both
// sizes needed.
BOOL LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name,
                       LPDWORD cchName, LPWSTR ReferencedDomainName,
                       LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse);

// Base services. Error codes are errno values, kept per thread.
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);
// FormatMessageW: only FORMAT_MESSAGE_ALLOCATE_BUFFER | IGNORE_INSERTS |
// FROM_SYSTEM with LANG_NEUTRAL/SUBLANG_DEFAULT: the C library's text for
// the code and a line feed (SYSTEM_TEXT_LINE_END); a code it has no name
// for fails (ENOMSG).
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                     void *Arguments);
// LocalAlloc: LMEM_ZEROINIT or fixed memory; LocalSize gives the size asked.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
SIZE_T LocalSize(HLOCAL hMem);
HLOCAL LocalFree(HLOCAL hMem);
// lstrlenW: a null string has length 0, as on Windows.
int lstrlenW(LPCWSTR lpString);
// ExitProcess: exits, running what atexit registered; a code whose low 8 bits are 0 ends
// with status 1, so a failure never passes for success.
[[noreturn]] void ExitProcess(UINT uExitCode);

#endif
