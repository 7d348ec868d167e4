# Code signing of a release. The certificate (KIVO_SIGN_CERT, PEM or DER) is
# always a file: it is the public half, and the build pins its public key.
# The key is reached in one of three ways:
#
#   a file        KIVO_SIGN_KEY=/secure/kivoline.key (PEM or DER; its password
#                 in KIVO_SIGN_PASSWORD_FILE, if it has one)
#   PKCS#11       KIVO_SIGN_PKCS11_MODULE=/usr/lib/.../module.so and
#                 KIVO_SIGN_KEY=pkcs11:token=...;object=...;pin-value=...
#                 (RFC 7512): a token or an HSM, through osslsigncode and
#                 the pkcs11 engine of libengine-pkcs11-openssl
#   a command     KIVO_SIGN_TOOL="signer --flags": run once per file with
#                 the file's path as its last argument, signing it in place
#                 (cloud signing services); no key is given
#
# Every signature carries an RFC 3161 time stamp from KIVO_SIGN_TIMESTAMP_URL;
# signing without one is refused unless KIVO_SIGN_NO_TIMESTAMP is ON. After
# signing, each file is checked with `osslsigncode verify`: intact, signed by
# a pinned certificate, time-stamped. Without a certificate nothing is signed.
#
# The client pins keys, not certificates: the SHA-256 hash of the signing
# certificate's SubjectPublicKeyInfo is always pinned, beside the list in
# KIVO_UPDATER_PINS, which must name a second, backup key kept offline
# (unless KIVO_SIGN_SINGLE_KEY is ON). A renewed certificate for a pinned key
# is therefore trusted by every installed client. Without a certificate and
# pins, the client never starts a downloaded updater.
set(KIVO_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM or DER): the public half of the signing key")
set(KIVO_SIGN_KEY "" CACHE STRING
    "Private key of KIVO_SIGN_CERT: a file, or a pkcs11: URI with KIVO_SIGN_PKCS11_MODULE")
set(KIVO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the key file's password, if it has one")
set(KIVO_SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module (.so) through which KIVO_SIGN_KEY signs")
set(KIVO_SIGN_TOOL "" CACHE STRING
    "Command that signs one file in place, given its path as last argument (cloud signing services)")
set(KIVO_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping service for the signatures")
option(KIVO_SIGN_NO_TIMESTAMP "Sign without time stamps (signatures then end with the certificate)" OFF)
option(KIVO_SIGN_SINGLE_KEY "Sign with KIVO_UPDATER_PINS naming no backup key (a lost key strands every client)" OFF)

set(KIVO_SIGNING OFF)
if(NOT KIVO_SIGN_CERT AND NOT KIVO_SIGN_KEY AND NOT KIVO_SIGN_PKCS11_MODULE AND NOT KIVO_SIGN_TOOL)
  return()
endif()

if(NOT KIVO_SIGN_CERT OR NOT EXISTS "${KIVO_SIGN_CERT}")
  message(FATAL_ERROR "KIVO_SIGN_CERT (\"${KIVO_SIGN_CERT}\") is no file: signing needs the certificate")
endif()
if(KIVO_SIGN_TOOL)
  if(KIVO_SIGN_KEY OR KIVO_SIGN_PKCS11_MODULE)
    message(FATAL_ERROR "KIVO_SIGN_TOOL signs on its own: give no KIVO_SIGN_KEY or KIVO_SIGN_PKCS11_MODULE with it")
  endif()
  set(kivo_sign_mode tool)
elseif(KIVO_SIGN_PKCS11_MODULE)
  if(NOT EXISTS "${KIVO_SIGN_PKCS11_MODULE}")
    message(FATAL_ERROR "KIVO_SIGN_PKCS11_MODULE (\"${KIVO_SIGN_PKCS11_MODULE}\") is no file")
  endif()
  if(NOT KIVO_SIGN_KEY MATCHES "^pkcs11:")
    message(FATAL_ERROR "With KIVO_SIGN_PKCS11_MODULE, KIVO_SIGN_KEY must be a pkcs11: URI "
                        "(pkcs11:token=...;object=...), not \"${KIVO_SIGN_KEY}\"")
  endif()
  set(kivo_sign_mode pkcs11)
else()
  if(NOT KIVO_SIGN_KEY OR NOT EXISTS "${KIVO_SIGN_KEY}")
    message(FATAL_ERROR "KIVO_SIGN_KEY (\"${KIVO_SIGN_KEY}\") is no file: signing needs the key as a file, "
                        "a pkcs11: URI with KIVO_SIGN_PKCS11_MODULE, or KIVO_SIGN_TOOL")
  endif()
  set(kivo_sign_mode file)
endif()
# A signature without a time stamp stops verifying when the certificate
# expires, and every client that has not updated by then is stranded.
if(NOT kivo_sign_mode STREQUAL "tool" AND NOT KIVO_SIGN_TIMESTAMP_URL AND NOT KIVO_SIGN_NO_TIMESTAMP)
  message(FATAL_ERROR "Signing needs KIVO_SIGN_TIMESTAMP_URL, an RFC 3161 time-stamping service: without a "
                      "time stamp the signatures stop verifying when the certificate expires, and clients "
                      "that have not updated by then can never update again. KIVO_SIGN_NO_TIMESTAMP=ON "
                      "signs without one.")
endif()
find_program(KIVO_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(KIVO_OPENSSL openssl REQUIRED)
set(KIVO_SIGNING ON)

# The updater pins: the signing key's own hash first, then KIVO_UPDATER_PINS,
# which must name a second key (cmake/UpdaterPins.cmake). A normal variable:
# the cache keeps the operator's own list, and a new key is pinned at the
# next configure.
include(${CMAKE_SOURCE_DIR}/cmake/UpdaterPins.cmake)
kivo_public_key_hash(signing_pin ${KIVO_SIGN_CERT} ${KIVO_OPENSSL})
if(signing_pin STREQUAL "")
  message(FATAL_ERROR "KIVO_SIGN_CERT (${KIVO_SIGN_CERT}) holds no certificate openssl can read")
endif()
kivo_updater_pins(KIVO_UPDATER_PINS "${signing_pin}" "${KIVO_UPDATER_PINS}" "${KIVO_SIGN_SINGLE_KEY}")
message(STATUS "Updater pins (the signing key first): ${KIVO_UPDATER_PINS}")

# Everything the signing step needs, written for installer/SignFile.cmake.
# Values go in bracket arguments, so that the semicolons of a pkcs11: URI
# or of the pins stay inside one value instead of splitting it into a list.
if(kivo_sign_mode STREQUAL "tool")
  separate_arguments(kivo_sign_tool_command UNIX_COMMAND "${KIVO_SIGN_TOOL}")
else()
  set(kivo_sign_tool_command "")
endif()
set(KIVO_SIGN_SETTINGS ${CMAKE_BINARY_DIR}/installer/signing-settings.cmake)
set(kivo_settings "# Written by installer/Signing.cmake at configure time.\n")
foreach(name mode tool_command)
  string(APPEND kivo_settings "set(KIVO_SIGN_${name} [==[${kivo_sign_${name}}]==])\n")
endforeach()
foreach(name KIVO_OSSLSIGNCODE KIVO_OPENSSL KIVO_SIGN_CERT KIVO_SIGN_KEY KIVO_SIGN_PASSWORD_FILE
             KIVO_SIGN_PKCS11_MODULE KIVO_SIGN_TIMESTAMP_URL KIVO_SIGN_NO_TIMESTAMP KIVO_UPDATER_PINS)
  string(APPEND kivo_settings "set(${name} [==[${${name}}]==])\n")
endforeach()
# Rewritten only when a setting changes: the signed files depend on it.
file(WRITE ${KIVO_SIGN_SETTINGS}.new "${kivo_settings}")
configure_file(${KIVO_SIGN_SETTINGS}.new ${KIVO_SIGN_SETTINGS} COPYONLY)
# The step that signs one file and checks it (installer/SignFile.cmake).
set(KIVO_SIGN_SCRIPT ${CMAKE_SOURCE_DIR}/installer/SignFile.cmake)
