# Locates the Poco libraries cross-built by scripts/deps.sh.
# A folder computed here follows the flags when they change; one given on the command line stays.
if(NOT NORLO_POCO_ROOT OR NORLO_POCO_ROOT STREQUAL NORLO_POCO_ROOT_COMPUTED)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpversion OUTPUT_VARIABLE _gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(DEFINED ENV{NORLO_CACHE})
    set(_cache_root "$ENV{NORLO_CACHE}")
  else()
    set(_cache_root "/var/cache/norlo-build")
  endif()
  # Named for the flags Poco was built with and the patch applied to it, as scripts/deps.sh
  # names it.
  file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/poco-build-flags.txt" _poco_build_line LIMIT_COUNT 1)
  file(READ "${CMAKE_CURRENT_LIST_DIR}/poco-size.patch" _poco_patch)
  string(MD5 _poco_tag "${_poco_build_line}${_poco_patch}")
  string(SUBSTRING "${_poco_tag}" 0 8 _poco_tag)
  set(NORLO_POCO_ROOT "${_cache_root}/poco-1.11.0-${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-gcc${_gcc_version}-${_poco_tag}" CACHE PATH "" FORCE)
  set(NORLO_POCO_ROOT_COMPUTED "${NORLO_POCO_ROOT}" CACHE INTERNAL "")
endif()
if(NOT EXISTS "${NORLO_POCO_ROOT}/.complete")
  message(FATAL_ERROR "Poco not found in ${NORLO_POCO_ROOT}; run scripts/deps.sh first")
endif()
# Found packages are cached: when the folder changed, they are looked up afresh in it.
if(DEFINED NORLO_POCO_ROOT_USED AND NOT NORLO_POCO_ROOT_USED STREQUAL NORLO_POCO_ROOT)
  foreach(_poco_package Poco PocoFoundation PocoXML PocoJSON PocoUtil)
    unset(${_poco_package}_DIR CACHE)
  endforeach()
endif()
set(NORLO_POCO_ROOT_USED "${NORLO_POCO_ROOT}" CACHE INTERNAL "")
list(APPEND CMAKE_FIND_ROOT_PATH "${NORLO_POCO_ROOT}")
find_package(Poco REQUIRED CONFIG COMPONENTS Foundation XML JSON Util)
# Maps the mixed-case Windows header names that Poco's headers use.
include_directories(SYSTEM "${NORLO_POCO_ROOT}/shim")
