# The updater's key pins: SHA-256 hashes of SubjectPublicKeyInfo, the part of
# a certificate that a renewal for the same key keeps.
#
# kivo_public_key_hash(<out> <certificate> <openssl>)
#   the pin of a certificate file (PEM or DER): 64 upper-case hex digits, or
#   "" when openssl cannot read it.
# kivo_updater_pins(<out> <signing pin> <pins> <single key>)
#   KIVO_UPDATER_PINS checked and completed for a signing build: every pin
#   64 hex digits (spaces and colons allowed between them), the signing
#   key's own pin added, duplicates dropped. A list that then names fewer
#   than two keys (the signing key and a backup key kept offline) stops the
#   configure unless <single key> is true: with one key pinned, losing it
#   strands every installed client.

function(kivo_public_key_hash out certificate openssl)
  set(hash "")
  foreach(form PEM DER)
    execute_process(COMMAND ${openssl} x509 -inform ${form} -in ${certificate} -noout -pubkey
                    COMMAND ${openssl} pkey -pubin -outform DER
                    COMMAND ${openssl} dgst -sha256 -r
                    OUTPUT_VARIABLE digest ERROR_QUIET RESULTS_VARIABLE statuses)
    if(statuses STREQUAL "0;0;0" AND digest MATCHES "^([0-9a-fA-F]+)")
      string(TOUPPER "${CMAKE_MATCH_1}" hash)
      break()
    endif()
  endforeach()
  set(${out} "${hash}" PARENT_SCOPE)
endfunction()

function(kivo_updater_pins out signing_pin pins single_key)
  set(result "")
  string(REGEX REPLACE "[ :]" "" normalised "${pins}")
  string(TOUPPER "${normalised}" normalised)
  foreach(pin IN LISTS normalised)
    if(pin STREQUAL "")
      continue()
    endif()
    if(NOT pin MATCHES "^[0-9A-F]+$")
      message(FATAL_ERROR "KIVO_UPDATER_PINS: \"${pin}\" is no key pin: each is the SHA-256 hash of a "
                          "public key (SubjectPublicKeyInfo), 64 hexadecimal digits")
    endif()
    string(LENGTH "${pin}" digits)
    if(NOT digits EQUAL 64)
      message(FATAL_ERROR "KIVO_UPDATER_PINS: \"${pin}\" has ${digits} hexadecimal digits, not 64: each pin "
                          "is the SHA-256 hash of a public key (a SHA-1 certificate thumbprint is no pin)")
    endif()
    list(APPEND result "${pin}")
  endforeach()
  string(TOUPPER "${signing_pin}" signing_pin)
  list(PREPEND result "${signing_pin}")
  list(REMOVE_DUPLICATES result)
  list(LENGTH result keys)
  if(keys LESS 2 AND NOT single_key)
    message(FATAL_ERROR "KIVO_UPDATER_PINS names ${keys} key: installed clients would trust only the "
                        "signing key, and if it is lost or must be revoked no release can ever reach them "
                        "again. Pin a backup key kept offline too (-DKIVO_UPDATER_PINS=<its SHA-256 "
                        "SubjectPublicKeyInfo hash>; the README's \"Publishing a release\" says how to make "
                        "one), or accept the risk with -DKIVO_SIGN_SINGLE_KEY=ON.")
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()
