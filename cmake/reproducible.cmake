# Two builds of one commit give the same files wherever and whenever they
# are built. The folders' paths would go into the debug information and
# into __FILE__: the source folder is written as ".", the build folder as
# "build" (the later map wins, and the build folder may lie inside the
# source folder). The Windows linker would stamp each program with the
# time of the link.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
                      "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
endif()
if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
endif()
