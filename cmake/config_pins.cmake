# The pinning rule of IsLocationPinned (app/package_checks.h), for the configuration the build
# embeds: warns when WebFile or WebFile64 is a plain http:// URL and the configuration holds
# neither a usable SHA-256 for it nor a request for a signature. Values are read as the installer
# reads them: the first [runtime] section, a key's first line (any case), the value trimmed and
# without one pair of enclosing quotes.
function(warn_unpinned_locations config_file)
  file(READ "${config_file}" mark LIMIT 3 HEX)
  set(skip 0)
  if(mark STREQUAL "efbbbf")  # a UTF-8 byte-order mark
    set(skip 3)
  endif()
  file(READ "${config_file}" text OFFSET ${skip})
  # Semicolons would split the lines of a CMake list; no value the rule looks at needs them.
  string(REPLACE ";" "," text "${text}")
  string(REGEX REPLACE "[\r\n]+" ";" lines "${text}")
  set(section before)  # before, in or after the first [runtime] section
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line MATCHES "^\\[(.*)\\]")
      string(TOLOWER "${CMAKE_MATCH_1}" name)
      if(section STREQUAL "in")
        set(section after)
      elseif(section STREQUAL "before" AND name STREQUAL "runtime")
        set(section in)
      endif()
    elseif(section STREQUAL "in" AND line MATCHES "^([^=]*)=(.*)$")
      string(STRIP "${CMAKE_MATCH_1}" key)
      string(STRIP "${CMAKE_MATCH_2}" value)
      string(TOLOWER "${key}" key)
      if(value MATCHES "^\"(.*)\"$")
        set(value "${CMAKE_MATCH_1}")
      elseif(value MATCHES "^'(.*)'$")
        set(value "${CMAKE_MATCH_1}")
      endif()
      if(NOT DEFINED v_${key})
        set(v_${key} "${value}")
      endif()
    endif()
  endforeach()

  # A value is usable when absent or well formed; any unusable one refuses every download anyway.
  set(digits "[0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F]")
  set(sha256 "^${digits}${digits}${digits}${digits}${digits}${digits}${digits}${digits}$")
  set(signature_usable TRUE)
  if(NOT "${v_requiresignature}" MATCHES "^[01]?$" OR
     NOT ("${v_signerthumbprint}" STREQUAL "" OR "${v_signerthumbprint}" MATCHES "${sha256}"))
    set(signature_usable FALSE)
  endif()
  set(signature FALSE)
  if("${v_requiresignature}" STREQUAL "1" OR NOT "${v_signername}${v_signerthumbprint}" STREQUAL "")
    set(signature TRUE)
  endif()

  foreach(location WebFile WebFile64)
    string(TOLOWER "${location}" key)
    string(TOLOWER "${v_${key}}" lower)
    if(NOT "${v_${key}}" MATCHES "^http" OR NOT lower MATCHES "^http://[^/:?#]")
      continue()
    endif()
    set(hash "${v_${key}sha256}")
    if(signature_usable AND (hash MATCHES "${sha256}" OR (hash STREQUAL "" AND signature)))
      continue()
    endif()
    message(WARNING "SETUP_CONFIG_FILE ${config_file}: ${location} is an http:// URL that nothing pins; add "
                    "${location}Sha256 (the package's SHA-256, 64 hex digits) or RequireSignature=1, or use "
                    "https://. As it is, whatever is fetched there runs as administrator unverified.")
  endforeach()
endfunction()
