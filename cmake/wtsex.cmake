# Which names of the extended process enumeration the platform's headers
# declare already: mingw-w64 10 none, 12 the type class and the release.
# wtsex.h declares each of the others, seen as OWNERROLL_HAVE_<name>.
# Compiled only, never linked: the 32-bit import library lacks the
# functions.
include(CheckCXXSourceCompiles)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
foreach(check
    "WTS_TYPE_CLASS|WTS_TYPE_CLASS c = WTSTypeProcessInfoLevel1"
    "WTS_PROCESS_INFO_EXW|WTS_PROCESS_INFO_EXW r = {}"
    "WTSEnumerateProcessesExW|decltype(&WTSEnumerateProcessesExW) f = nullptr"
    "WTSFreeMemoryExW|decltype(&WTSFreeMemoryExW) f = nullptr")
  string(REPLACE "|" ";" check "${check}")
  list(GET check 0 name)
  list(GET check 1 use)
  check_cxx_source_compiles("#include <windows.h>
#include <wtsapi32.h>
void f() { [[maybe_unused]] ${use}; }" OWNERROLL_HAVE_${name})
  if(OWNERROLL_HAVE_${name})
    add_compile_definitions(OWNERROLL_HAVE_${name})
  endif()
endforeach()
unset(CMAKE_TRY_COMPILE_TARGET_TYPE)
