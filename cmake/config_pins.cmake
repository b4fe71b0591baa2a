# Warns at configure time when the configuration the build embeds breaks its own rules, above all
# a plain http:// location that nothing pins. tools/make-installer --check says which rule is
# broken; it asks the installer's own rule, built natively as tools/checkcfg.
function(warn_unpinned_locations config_file)
  # Debian's python3, which has the packages make-installer imports (a python3 earlier in PATH may not).
  find_program(SETUP_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT SETUP_DEBIAN_PYTHON3)
    message(STATUS "No python3: the pins of ${config_file} are not checked at configure time")
    return()
  endif()
  execute_process(COMMAND ${SETUP_DEBIAN_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make-installer --check ${config_file}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE reason ERROR_STRIP_TRAILING_WHITESPACE)
  if(result EQUAL 1)
    message(WARNING "SETUP_CONFIG_FILE ${config_file}: ${reason}. As it is, whatever is fetched there "
                    "may run as administrator unverified.")
  elseif(NOT result EQUAL 0)
    message(WARNING "The pins of ${config_file} could not be checked: ${reason}")
  endif()
endfunction()
