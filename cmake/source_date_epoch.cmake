# Writes OUTPUT with the time ld puts into the PE headers of the shipped programs: SOURCE_DATE_EPOCH
# when it is set, else the time of the source tree's last commit, else 0. The file is rewritten
# only when that time changes, so a new commit relinks them and an unchanged tree does not.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(STATUS "No commit to take the programs' time stamp from (no git, or no repository): 0")
    set(epoch 0)
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970 as decimal digits, not '${epoch}'")
endif()
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL "${epoch}\n")
  file(WRITE ${OUTPUT} "${epoch}\n")
endif()
