# Shared by the mingw-w64 toolchain files: set VELMOR_MINGW_TRIPLET first. The -posix compilers are used
# because the GoogleTest build of the Windows-side tests needs std::mutex, which the win32 thread model lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VELMOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMOR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows-side executables run under Wine, in a throwaway prefix made by this wrapper; it picks Wine's
# 32- or 64-bit loader from each executable's image.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
