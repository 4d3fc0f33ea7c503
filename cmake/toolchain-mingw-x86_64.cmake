# The 64-bit twin: the same sources for x86_64, a test build for hosts whose kernel cannot execute 32-bit
# code (Wine's 64-bit loader runs it there). It is never shipped.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMOR_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
