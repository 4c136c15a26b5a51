# Cross-build for 32-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORLO_MINGW_PREFIX i686-w64-mingw32)

# Debian ships a win32-thread and a posix-thread variant. The posix one has
# std::mutex, which the cross-built GoogleTest needs; the installer uses no
# threading of the C++ library and links everything statically, so it
# imports nothing from winpthread (its import table is checked by a test).
find_program(CMAKE_C_COMPILER NAMES ${ORLO_MINGW_PREFIX}-gcc-posix ${ORLO_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ORLO_MINGW_PREFIX}-g++-posix ${ORLO_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ORLO_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ORLO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
