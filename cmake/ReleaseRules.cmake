# Checks of a build's release settings, made at configure time so that a build meant for
# customers cannot quietly keep an address only a test machine can reach.
#
# Also runs as a script, for the release tool's tests:
#   cmake -DNORLO_CHECK_VERSION=5.0.1.2 -P cmake/ReleaseRules.cmake
#   cmake -DNORLO_CHECK_ADDRESS=https://x -DNORLO_CHECK_NAME=NORLO_UPDATE_SERVER
#         [-DNORLO_CHECK_VENDOR=ON] [-DNORLO_CHECK_ALLOW=ON] -P cmake/ReleaseRules.cmake

# A version is four numbers from 0 to 65535 (the version resource holds four 16-bit words).
function(norlo_check_version name value)
  if(NOT value MATCHES "^(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)\\.(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)\\.(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)\\.(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)$")
    message(FATAL_ERROR "${name} must be four numbers from 0 to 65535 separated by full stops, got '${value}'")
  endif()
  foreach(part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
    if(part GREATER 65535)
      message(FATAL_ERROR "${name} must be four numbers from 0 to 65535 separated by full stops, got '${value}'")
    endif()
  endforeach()
endfunction()

# Every build: an http or https address with a host. A vendor build, unless allowed:
# https, and not a loopback host.
function(norlo_check_server_address name value vendor allow)
  if(NOT value MATCHES "^([A-Za-z][A-Za-z0-9+.-]*)://([^/?#]*)")
    message(FATAL_ERROR "${name} '${value}' names no scheme: give an http or https address")
  endif()
  string(TOLOWER "${CMAKE_MATCH_1}" scheme)
  set(authority "${CMAKE_MATCH_2}")
  if(NOT scheme STREQUAL "http" AND NOT scheme STREQUAL "https")
    message(FATAL_ERROR "${name} '${value}' has the scheme ${scheme}: give an http or https address")
  endif()
  string(REGEX REPLACE "^.*@" "" host "${authority}")
  if(host MATCHES "^\\[")
    string(REGEX REPLACE "^\\[" "" host "${host}")
    string(REGEX REPLACE "\\].*$" "" host "${host}")
  else()
    string(REGEX REPLACE ":.*$" "" host "${host}")
  endif()
  string(TOLOWER "${host}" host)
  if(host STREQUAL "")
    message(FATAL_ERROR "${name} '${value}' names no host")
  endif()
  if(NOT vendor OR allow)
    return()
  endif()
  set(advice "(a build without tests is for customers; set NORLO_ALLOW_TEST_SERVERS=ON to build one against a test server anyway)")
  if(host MATCHES "^127\\." OR host STREQUAL "localhost" OR host MATCHES "\\.localhost$" OR host STREQUAL "::1"
     OR host STREQUAL "0.0.0.0" OR host MATCHES "^0*:(0*:)*0*1$")
    message(FATAL_ERROR "${name} '${value}' is a loopback address, which reaches only the user's own computer ${advice}")
  endif()
  if(scheme STREQUAL "http")
    message(FATAL_ERROR "${name} '${value}' is plain http: give an https address ${advice}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(DEFINED NORLO_CHECK_VERSION)
    norlo_check_version(NORLO_VERSION "${NORLO_CHECK_VERSION}")
  endif()
  if(DEFINED NORLO_CHECK_ADDRESS)
    norlo_check_server_address("${NORLO_CHECK_NAME}" "${NORLO_CHECK_ADDRESS}" "${NORLO_CHECK_VENDOR}" "${NORLO_CHECK_ALLOW}")
  endif()
endif()
