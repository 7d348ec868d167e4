# The configure check of KIVO_L2TP_PSK (cmake/L2tpPreSharedKey.cmake), each key
# in a cmake of its own, since a refusal ends it.
if(DEFINED KIVO_PSK_PROBE)
  include(${KIVO_SOURCE_DIR}/cmake/L2tpPreSharedKey.cmake)
  kivo_l2tp_psk(bytes has)
  message(NOTICE "${has} [${bytes}]")
  return()
endif()

function(check key expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -DKIVO_PSK_PROBE=1 -DKIVO_SOURCE_DIR=${KIVO_SOURCE_DIR}
                          "-DKIVO_L2TP_PSK=${key}" -P ${CMAKE_CURRENT_LIST_FILE} ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  string(FIND "${output}" "${expected}" found)
  if(found EQUAL -1)
    message(SEND_ERROR "A key of ${ARGV2}: expected \"${expected}\", got:\n${output}")
  endif()
endfunction()

string(REPEAT "密" 256 chinese_256)
string(REPEAT "\\xe5\\xaf\\x86" 256 chinese_256_bytes)
string(ASCII 255 invalid)
check("" "refused: it is empty" "nothing")
check("${chinese_256}密" "refused: it is 257 characters long" "257 Chinese characters")
check("ab\tc" "refused: character 3 is the control character U+0009" "a tab")
check("a${invalid}" "refused: it is not valid UTF-8" "a byte FF")
check("${chinese_256}" "true [${chinese_256_bytes}]" "256 Chinese characters")
check("pässwörd密" "true [\\x70\\xc3\\xa4\\x73\\x73\\x77\\xc3\\xb6\\x72\\x64\\xe5\\xaf\\x86]" "pässwörd密")
