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
