# Where the embedded install sequence document (resource 300) comes from.
#
# A vendor build names the folder of a release's component files: tools/release.py then
# writes the document from those files (digests and file versions included), so the
# executable and the files it will download can never disagree. The bootstrapper item names
# only the version being built and its address; update.xml, with the bootstrapper's digests,
# is written after it is signed (target norlo_publish_release). A test build uses the
# sample release that tests/release builds. Without either, the configured template of
# resources/ is embedded.
set(NORLO_RELEASE_DIR "" CACHE PATH
  "Folder of a release's component files; the embedded install sequence is written from it")
set(NORLO_RELEASE_LAYOUT "${CMAKE_SOURCE_DIR}/tools/layout-sample.json" CACHE FILEPATH
  "Layout description of the release (see tools/release.py --help)")
set(NORLO_RELEASE_DEFINES "release=5.0.1038.10828" CACHE STRING
  "Values of the layout's {variables} as name=value, separated by semicolons")
option(NORLO_SAMPLE_RELEASE "Build the sample release and embed its install sequence" ${NORLO_BUILD_TESTS})
set(NORLO_SAMPLE_RELEASE_VERSION "5.0.1038.10828" CACHE STRING
  "Version of the sample release's newer bootstrapper and packages (must be above NORLO_VERSION)")

option(NORLO_ALLOW_TEST_SERVERS
  "Accept loopback and plain-http update and recovery-media addresses in a build without tests" OFF)

include(${CMAKE_CURRENT_LIST_DIR}/ReleaseRules.cmake)
norlo_check_version(NORLO_VERSION "${NORLO_VERSION}")
# A build without tests is what customers get: its servers must be real and reached over https.
set(_norlo_vendor_build ON)
if(NORLO_BUILD_TESTS)
  set(_norlo_vendor_build OFF)
endif()
# The same rule at run time: a vendor build refuses every plain-http address it meets.
set(NORLO_TEST_BUILD ${NORLO_BUILD_TESTS})
if(NORLO_BUILD_TESTS OR NORLO_ALLOW_TEST_SERVERS)
  set(NORLO_PLAIN_HTTP ON)
else()
  set(NORLO_PLAIN_HTTP OFF)
endif()
norlo_check_server_address(NORLO_UPDATE_SERVER "${NORLO_UPDATE_SERVER}" ${_norlo_vendor_build} ${NORLO_ALLOW_TEST_SERVERS})
foreach(_norlo_mirror IN LISTS NORLO_MIRROR_SERVERS)
  norlo_check_server_address(NORLO_MIRROR_SERVERS "${_norlo_mirror}" ${_norlo_vendor_build} ${NORLO_ALLOW_TEST_SERVERS})
endforeach()
norlo_check_server_address(NORLO_RECOVERY_MEDIA_URL "${NORLO_RECOVERY_MEDIA_URL}" ${_norlo_vendor_build} ${NORLO_ALLOW_TEST_SERVERS})

if(NORLO_RELEASE_DIR OR NORLO_SAMPLE_RELEASE)
  set(NORLO_EMBEDDED_SEQUENCE ${CMAKE_BINARY_DIR}/release/documents/Sequence.xml)
else()
  unset(NORLO_EMBEDDED_SEQUENCE)
endif()

# The test HTTP server serves the sample release under the addresses the documents name,
# so the test build's update server must be the port that server listens on. Several
# build trees run their tests side by side on one machine, so each tree gets its own
# port, derived from its path; the harness starts the server on it (NORLO_HTTP_PORT).
string(MD5 _norlo_tree_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_norlo_tree_hash}" 0 4 _norlo_tree_hash)
math(EXPR _norlo_tree_port "20000 + 0x${_norlo_tree_hash} % 20000")
set(NORLO_TEST_HTTP_PORT ${_norlo_tree_port} CACHE STRING
  "Port of the test HTTP server of this build tree (the sample release's update server)")
if(NORLO_BUILD_TESTS AND NORLO_UPDATE_SERVER STREQUAL "http://127.0.0.1:8642")
  # Only the unchanged default is replaced; an address given at configure time is kept.
  set(NORLO_UPDATE_SERVER "http://127.0.0.1:${NORLO_TEST_HTTP_PORT}")
  if(NORLO_RECOVERY_MEDIA_URL STREQUAL "http://127.0.0.1:8642/recovery/")
    set(NORLO_RECOVERY_MEDIA_URL "http://127.0.0.1:${NORLO_TEST_HTTP_PORT}/recovery/")
  endif()
endif()

# The administrative templates of the policies go into every release tree beside its
# documents, for the administrators' central store (README, Administrators).
foreach(_norlo_template IN ITEMS Norlo.admx en-US/Norlo.adml)
  configure_file(${CMAKE_SOURCE_DIR}/resources/policy/${_norlo_template}
                 ${CMAKE_BINARY_DIR}/release/policy/${_norlo_template} COPYONLY)
endforeach()

# The built-in update address: update.xml on the update server, then on each mirror, as the
# ";"-separated list the program asks in order.
set(NORLO_UPDATE_URLS "${NORLO_UPDATE_SERVER}/update.xml")
foreach(_norlo_mirror IN LISTS NORLO_MIRROR_SERVERS)
  string(REGEX REPLACE "/+$" "" _norlo_mirror "${_norlo_mirror}")
  string(APPEND NORLO_UPDATE_URLS ";${_norlo_mirror}/update.xml")
endforeach()
