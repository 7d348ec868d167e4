# The service's L2TP/IPsec pre-shared key, KIVO_L2TP_PSK (README, "L2TP/IPsec
# with a pre-shared key"). Not defined: no key. Defined, it must be a key the
# client can hand to RasSetCredentialsW once it has turned the UTF-8 text into
# UTF-16: 1 to 256 characters of valid UTF-8 without control characters.
# Anything else stops the configuration with the reason; the key itself is
# never printed.
#
#   kivo_l2tp_psk(<bytes_var> <has_var>)
#     <bytes_var>  the key's UTF-8 bytes as C escapes (\x70\xc3\xa4...),
#                  empty without a key
#     <has_var>    true or false, as C++ spells them

# One character of UTF-8 (RFC 3629) in the lower-case hex that string(HEX)
# writes: no overlong forms, no surrogates, nothing above U+10FFFF.
set(kivo_utf8_tail "[89ab][0-9a-f]")
set(kivo_utf8_char
    "[0-7][0-9a-f]"
    "c[2-9a-f]${kivo_utf8_tail}"
    "d[0-9a-f]${kivo_utf8_tail}"
    "e0[ab][0-9a-f]${kivo_utf8_tail}"
    "e[1-9a-cef]${kivo_utf8_tail}${kivo_utf8_tail}"
    "ed[89][0-9a-f]${kivo_utf8_tail}"
    "f0[9ab][0-9a-f]${kivo_utf8_tail}${kivo_utf8_tail}"
    "f[1-3]${kivo_utf8_tail}${kivo_utf8_tail}${kivo_utf8_tail}"
    "f48[0-9a-f]${kivo_utf8_tail}${kivo_utf8_tail}")
list(JOIN kivo_utf8_char "|" kivo_utf8_char)

# Windows keeps at most PWLEN (256) characters of a pre-shared key.
set(kivo_l2tp_psk_max 256)

function(kivo_l2tp_psk bytes_var has_var)
  set(${bytes_var} "" PARENT_SCOPE)
  set(${has_var} false PARENT_SCOPE)
  if(NOT DEFINED KIVO_L2TP_PSK)
    return()
  endif()
  set(refused "KIVO_L2TP_PSK is refused:")
  if(KIVO_L2TP_PSK STREQUAL "")
    message(FATAL_ERROR "${refused} it is empty. An empty key is no key: to build without one, remove the "
                        "setting with -UKIVO_L2TP_PSK (a build tree configured before keys were checked keeps "
                        "an empty one in its cache).")
  endif()

  string(HEX "${KIVO_L2TP_PSK}" hex)
  string(REGEX MATCHALL "${kivo_utf8_char}" chars "${hex}")
  list(JOIN chars "" whole)
  if(NOT whole STREQUAL hex)
    message(FATAL_ERROR "${refused} it is not valid UTF-8. The client turns the key from UTF-8 into UTF-16 "
                        "for RasSetCredentialsW; give it in UTF-8.")
  endif()

  # Windows counts UTF-16 units: a character beyond U+FFFF (four bytes of
  # UTF-8) takes two of the 256.
  list(LENGTH chars length)
  set(beyond ${chars})
  list(FILTER beyond INCLUDE REGEX "^f")
  list(LENGTH beyond pairs)
  math(EXPR length "${length} + ${pairs}")
  if(length GREATER kivo_l2tp_psk_max)
    message(FATAL_ERROR "${refused} it is ${length} characters long (a character beyond U+FFFF counts as two); "
                        "Windows keeps at most ${kivo_l2tp_psk_max} characters of a pre-shared key.")
  endif()

  # C0 controls, DEL and the C1 controls (U+0080-U+009F: C2 80 to C2 9F).
  set(position 0)
  foreach(char IN LISTS chars)
    math(EXPR position "${position} + 1")
    if(char MATCHES "^([01][0-9a-f]|7f|c2[89][0-9a-f])$")
      # Their code point is their last byte.
      string(REGEX MATCH "..$" code "${char}")
      string(TOUPPER "${code}" code)
      message(FATAL_ERROR "${refused} character ${position} is the control character U+00${code}. A key cannot "
                          "hold control characters (tab, line break and the like): they are no part of a key "
                          "typed into a connection's settings and mostly come from a pasting mistake.")
    endif()
  endforeach()

  string(REGEX REPLACE "(..)" "\\\\x\\1" bytes "${hex}")
  set(${bytes_var} "${bytes}" PARENT_SCOPE)
  set(${has_var} true PARENT_SCOPE)
endfunction()
