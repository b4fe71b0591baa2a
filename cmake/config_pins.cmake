# Warns at configure time when the configuration the build embeds breaks its own rules, above all
# a plain http:// location that nothing pins. The rules live once for the build side, in
# tools/make-installer; its --check mode says which one is broken.
function(warn_unpinned_locations config_file)
  # Debian's python3, which has the packages make-installer imports (a python3 earlier in PATH may not).
  find_program(SETUP_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT SETUP_DEBIAN_PYTHON3)
    message(STATUS "No python3: the pins of ${config_file} are not checked at configure time")
    return()
  endif()
  execute_process(COMMAND ${SETUP_DEBIAN_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make-installer --check ${config_file}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE reason ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(WARNING "SETUP_CONFIG_FILE ${config_file}: ${reason}. As it is, whatever is fetched there "
                    "may run as administrator unverified.")
  endif()
endfunction()
