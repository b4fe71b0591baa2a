# cmake -DINPUT=<config.ini> -DOUTPUT=<config_text.inc> -P config_text.cmake
# Writes the bytes of INPUT, then one NUL, as resource-script string items ("\x41" ...), one line per
# 16 bytes. One item per byte keeps every byte exact: escapes cannot run into the next character.
file(READ "${INPUT}" hex HEX)
string(APPEND hex "00")
string(REPEAT "[0-9a-f]" 32 line_of_hex)
string(REGEX REPLACE "(${line_of_hex})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\"\\\\x\\1\" " items "${hex}")
file(WRITE "${OUTPUT}.tmp" "${items}\n")
# Rewrite only on change, so an unchanged configuration does not rebuild the resources.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
