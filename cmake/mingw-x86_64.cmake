# Cross-compiling for 64-bit Windows with mingw-w64: the test build of a host that runs no
# 32-bit x86 code (scripts/test.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
