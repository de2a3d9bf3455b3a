# Where the embedded install sequence document (resource 300) comes from.
#
# A vendor build names the folder of a release's component files: tools/release.py then
# writes the document from those files (digests and file versions included), so the
# executable and the files it will download can never disagree. A test build uses the
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
