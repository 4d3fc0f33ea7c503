# Cross-compiling the 32-bit agent, the product that ships, with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELMOR_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
