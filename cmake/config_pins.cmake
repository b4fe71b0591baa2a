# Judges at configure time the configuration the build embeds, by the installer's own rules
# (tools/make-installer --check asks tools/checkcfg, built natively). A value the installer would
# refuse or misread stops the configure step: the installer built from it would refuse every run.
# A location that nothing pins is only a warning (the shipped default points at the demo server over
# http:// unpinned), unless it names a publisher as if that pinned it: whoever wrote it believes the
# package pinned, and the build stops.
function(check_config_rules config_file)
  # Debian's python3, which has the packages make-installer imports (a python3 earlier in PATH may not).
  find_program(SETUP_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT SETUP_DEBIAN_PYTHON3)
    message(STATUS "No python3: the rules of ${config_file} are not checked at configure time")
    return()
  endif()
  execute_process(COMMAND ${SETUP_DEBIAN_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/make-installer --check ${config_file}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE reason ERROR_STRIP_TRAILING_WHITESPACE)
  # Exit 1 is also what python gives for an uncaught error: only make-installer's own words judge.
  if(result EQUAL 1 AND reason MATCHES "^make-installer: .*RequireSignature and SignerName name a publisher but do not pin one")
    message(FATAL_ERROR "SETUP_CONFIG_FILE ${config_file}: ${reason}. Pin the package before building.")
  elseif(result EQUAL 1 AND reason MATCHES "^make-installer: .*--allow-unverified")
    message(WARNING "SETUP_CONFIG_FILE ${config_file}: ${reason}. As it is, whatever is fetched there "
                    "may run as administrator unverified.")
  elseif(result EQUAL 1 AND reason MATCHES "^make-installer: ")
    message(FATAL_ERROR "SETUP_CONFIG_FILE ${config_file}: ${reason}. The installer built from it would not "
                        "run as configured.")
  elseif(NOT result EQUAL 0)
    message(WARNING "The rules of ${config_file} could not be checked: ${reason}")
  endif()
endfunction()
