# Code signing of a release. The operator gives a certificate and its
# private key as files (PEM or DER, never committed); osslsigncode then signs
# the client, the installer and the updater. Without a certificate nothing is
# signed.
#
# When a certificate is given and KIVO_UPDATER_THUMBPRINT is empty, the
# build pins that certificate's SHA-1 thumbprint, so that a release trusts
# updaters from its own publisher. Without either, the client never starts a
# downloaded updater.
set(KIVO_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM or DER) for the client, installer and updater")
set(KIVO_SIGN_KEY "" CACHE FILEPATH "Private key of KIVO_SIGN_CERT")
set(KIVO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the key's password, if it has one")
set(KIVO_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping service for the signatures (osslsigncode -ts); empty: no time stamp")

set(KIVO_SIGNING OFF)
if(KIVO_SIGN_CERT OR KIVO_SIGN_KEY)
  foreach(file KIVO_SIGN_CERT KIVO_SIGN_KEY)
    if(NOT ${file} OR NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file} (\"${${file}}\") is no file: signing needs both the certificate and the key")
    endif()
  endforeach()
  find_program(KIVO_OSSLSIGNCODE osslsigncode REQUIRED)
  find_program(KIVO_OPENSSL openssl REQUIRED)
  set(KIVO_SIGNING ON)

  if(KIVO_UPDATER_THUMBPRINT STREQUAL "")
    # Whichever of the two encodings the file is in.
    foreach(form PEM DER)
      execute_process(COMMAND ${KIVO_OPENSSL} x509 -inform ${form} -noout -fingerprint -sha1 -in ${KIVO_SIGN_CERT}
                      OUTPUT_VARIABLE fingerprint ERROR_QUIET RESULT_VARIABLE status)
      if(status EQUAL 0)
        break()
      endif()
    endforeach()
    # "SHA1 Fingerprint=AB:CD:...", 20 bytes.
    string(REGEX MATCH "=([0-9A-Fa-f:]+)" fingerprint "${fingerprint}")
    string(REPLACE ":" "" fingerprint "${CMAKE_MATCH_1}")
    string(LENGTH "${fingerprint}" fingerprint_length)
    if(NOT fingerprint_length EQUAL 40)
      message(FATAL_ERROR "KIVO_SIGN_CERT (${KIVO_SIGN_CERT}) holds no certificate openssl can read")
    endif()
    string(TOUPPER "${fingerprint}" fingerprint)
    # A normal variable: the cache keeps the operator's own (empty) choice,
    # and a new certificate is pinned at the next configure.
    set(KIVO_UPDATER_THUMBPRINT "${fingerprint}")
    message(STATUS "Updater pin: the signing certificate, ${KIVO_UPDATER_THUMBPRINT}")
  endif()

  # The signing command line, without input and output.
  set(KIVO_SIGN_COMMAND ${KIVO_OSSLSIGNCODE} sign -certs ${KIVO_SIGN_CERT} -key ${KIVO_SIGN_KEY} -h sha256)
  if(KIVO_SIGN_PASSWORD_FILE)
    list(APPEND KIVO_SIGN_COMMAND -readpass ${KIVO_SIGN_PASSWORD_FILE})
  endif()
  # A time stamp keeps the signature valid after the certificate expires.
  if(KIVO_SIGN_TIMESTAMP_URL)
    list(APPEND KIVO_SIGN_COMMAND -ts ${KIVO_SIGN_TIMESTAMP_URL})
  endif()
endif()
