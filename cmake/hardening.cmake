# The flags Debian's own packages are built with (dpkg-buildflags with
# hardening=+all), for the programs users build and the package ships:
# stack protector, _FORTIFY_SOURCE, stack-clash and control-flow
# protection, PIE, and relocations read-only after start-up (relro, now).
# On Windows the linker marks the programs as DEP, ASLR (high entropy on
# x86-64) and terminal-server aware.
option(OWNERROLL_HARDENING "Build with the hardening flags Debian uses" ON)
if(NOT OWNERROLL_HARDENING)
  return()
endif()

if(WIN32)
  # mingw-w64's ld sets dynamicbase, nxcompat and high-entropy-va by itself
  # (binutils 2.36 and later); these say so whatever its version.
  add_link_options(LINKER:--dynamicbase LINKER:--nxcompat LINKER:--tsaware)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(LINKER:--high-entropy-va)
  endif()
  return()
endif()

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
  add_compile_options(-fcf-protection)
endif()
# _FORTIFY_SOURCE works only with optimisation, and the sanitizers check
# the same calls better unfortified. OWNERROLL_FORTIFIED tells the tests.
set(OWNERROLL_FORTIFIED OFF)
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  # Undefined first: some compilers define their own level.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(OWNERROLL_FORTIFIED ON)
  endif()
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
