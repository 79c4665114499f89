# Read by cpack for each package it makes. The files in the package carry
# the time SOURCE_DATE_EPOCH gives, which CPack honours; where it is not
# set, the time of the changelog's newest entry, never the time of the run.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_OWNERROLL_CHANGELOG_TIME})
endif()
