# Signs one file and checks the signature (run with cmake -P):
#
#   cmake -DKIVO_SIGN_SETTINGS=<build>/installer/signing-settings.cmake
#         -DKIVO_SIGN_IN=<file> [-DKIVO_SIGN_OUT=<file>] [-DKIVO_SIGN_DESCRIPTION=<text>]
#         -P installer/SignFile.cmake
#
# Without KIVO_SIGN_OUT the file is signed in place. The settings come from
# installer/Signing.cmake. The check, after signing: `osslsigncode verify`
# finds the signature intact, its signer's public-key hash (SHA-256 of its
# SubjectPublicKeyInfo) is one of the pins the build carries, and it carries a time stamp (unless time stamps
# are turned off). Anything else fails the build, naming the file.
cmake_minimum_required(VERSION 3.25)
include(${KIVO_SIGN_SETTINGS})
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/UpdaterPins.cmake)
if(NOT KIVO_SIGN_OUT)
  set(KIVO_SIGN_OUT ${KIVO_SIGN_IN})
endif()
if(NOT KIVO_SIGN_DESCRIPTION)
  set(KIVO_SIGN_DESCRIPTION Kivoline)
endif()
set(signed "${KIVO_SIGN_OUT}.signing")
file(REMOVE "${signed}")

function(fail what)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "Signing ${KIVO_SIGN_OUT}: ${what}")
endfunction()

# Runs a command given as separate arguments (none of which may hold a
# semicolon: a list would split it).
function(run output_var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  set(${output_var} "${output}" PARENT_SCOPE)
  set(run_status "${status}" PARENT_SCOPE)
endfunction()

# -- sign ---------------------------------------------------------------
set(common -h sha256 -n "${KIVO_SIGN_DESCRIPTION}")
if(KIVO_SIGN_TIMESTAMP_URL AND NOT KIVO_SIGN_NO_TIMESTAMP)
  list(APPEND common -ts "${KIVO_SIGN_TIMESTAMP_URL}")
endif()
if(KIVO_SIGN_mode STREQUAL "tool")
  file(COPY_FILE "${KIVO_SIGN_IN}" "${signed}")
  run(output ${KIVO_SIGN_tool_command} "${signed}")
elseif(KIVO_SIGN_mode STREQUAL "pkcs11")
  # Called here, not through run(): the URI, quoted, stays one argument
  # only as long as it is not handed on as part of a list.
  execute_process(COMMAND "${KIVO_OSSLSIGNCODE}" sign -pkcs11module "${KIVO_SIGN_PKCS11_MODULE}"
                          -certs "${KIVO_SIGN_CERT}" -key "${KIVO_SIGN_KEY}" ${common} -in "${KIVO_SIGN_IN}"
                          -out "${signed}"
                  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE run_status)
else()
  set(password)
  if(KIVO_SIGN_PASSWORD_FILE)
    set(password -readpass "${KIVO_SIGN_PASSWORD_FILE}")
  endif()
  run(output "${KIVO_OSSLSIGNCODE}" sign -certs "${KIVO_SIGN_CERT}" -key "${KIVO_SIGN_KEY}" ${password} ${common}
      -in "${KIVO_SIGN_IN}" -out "${signed}")
endif()
if(NOT run_status EQUAL 0 OR NOT EXISTS "${signed}")
  fail("the signer failed (${run_status}):\n${output}")
endif()

# -- check --------------------------------------------------------------
# Trust in the chain is the target system's to decide; here the signature
# must be intact and by one of ours.
run(verify "${KIVO_OSSLSIGNCODE}" verify -in "${signed}")
string(REGEX MATCH "Current message digest *: *([0-9A-Fa-f]+)" current "${verify}")
set(current "${CMAKE_MATCH_1}")
string(REGEX MATCH "Calculated message digest *: *([0-9A-Fa-f]+)" calculated "${verify}")
set(calculated "${CMAKE_MATCH_1}")
if(current STREQUAL "" OR NOT current STREQUAL calculated)
  fail("the signature is not intact (osslsigncode verify):\n${verify}")
endif()
# A time stamp shows among the countersignatures.
if(NOT KIVO_SIGN_NO_TIMESTAMP AND NOT verify MATCHES "Countersignatures:[^\n]*\n[ \t]*Timestamp time:")
  fail("the signature carries no time stamp:\n${verify}")
endif()

# The signer, as verify names it: serial and issuer of "Signer #0".
string(REGEX MATCH "Signer's certificate:[^#]*Signer #0:[ \t\r\n]*Subject:[^\n]*\n[ \t]*Issuer *: ([^\n]*)\n[ \t]*Serial *: ([0-9A-Fa-f]+)"
       signer "${verify}")
set(signer_issuer "${CMAKE_MATCH_1}")
string(TOUPPER "${CMAKE_MATCH_2}" signer_serial)
if(signer_serial STREQUAL "")
  fail("osslsigncode verify names no signer:\n${verify}")
endif()
# Its certificate among those the signature carries, and that one's key pin.
run(ignored "${KIVO_OSSLSIGNCODE}" extract-signature -pem -in "${signed}" -out "${signed}.p7")
run(certificates "${KIVO_OPENSSL}" pkcs7 -in "${signed}.p7" -print_certs)
file(REMOVE "${signed}.p7")
string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----" certificates "${certificates}")
set(key_pin "")
foreach(certificate IN LISTS certificates)
  file(WRITE "${signed}.pem" "${certificate}\n")
  run(details "${KIVO_OPENSSL}" x509 -in "${signed}.pem" -noout -serial -issuer -nameopt compat)
  if(details MATCHES "serial=([0-9A-Fa-f]+)")
    string(TOUPPER "${CMAKE_MATCH_1}" serial)
    string(FIND "${details}" "issuer=${signer_issuer}\n" issuer_at)
    if(serial STREQUAL signer_serial AND NOT issuer_at EQUAL -1)
      kivo_public_key_hash(key_pin "${signed}.pem" "${KIVO_OPENSSL}")
      file(REMOVE "${signed}.pem")
      break()
    endif()
  endif()
  file(REMOVE "${signed}.pem")
endforeach()
if(key_pin STREQUAL "" OR NOT key_pin IN_LIST KIVO_UPDATER_PINS)
  fail("the signer's key (${key_pin}) is none of the pinned keys (${KIVO_UPDATER_PINS})")
endif()

file(RENAME "${signed}" "${KIVO_SIGN_OUT}")
