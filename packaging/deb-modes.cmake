# Run by cpack once it has made the package (CPACK_POST_BUILD_SCRIPTS).
# CPack gives the members of the package's ar archive (debian-binary,
# control.tar.gz, data.tar.gz) the modes of the files it wrote them from,
# and so the umask of the run: they become 644, as dpkg-deb makes them, so
# that the package does not depend on the umask. Each member's header is
# 60 bytes, its mode the octal text at offset 40, its size at offset 48.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE ${package} size)
  set(at 8)
  while(at LESS size)
    file(READ ${package} header OFFSET ${at} LIMIT 60)
    string(SUBSTRING "${header}" 48 10 length)
    string(STRIP "${length}" length)
    if(NOT header MATCHES "`\n$" OR NOT length MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${package}: no ar member header at ${at}")
    endif()
    math(EXPR mode_at "${at} + 40")
    execute_process(COMMAND printf "100644  "
                    COMMAND dd of=${package} bs=1 seek=${mode_at} conv=notrunc status=none
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${package}: the mode of the member at ${at} could not be set")
    endif()
    math(EXPR at "${at} + 60 + ${length} + ${length} % 2")
  endwhile()
endforeach()
