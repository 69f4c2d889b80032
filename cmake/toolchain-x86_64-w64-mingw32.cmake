# Cross build for x86_64 Windows with Debian's mingw-w64 (the posix thread
# model: the C++ runtime's threads and mutexes need it; it is linked in
# statically, so the DLLs need nothing beyond the system's own).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KVI_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVI_MINGW_TRIPLE}-windres)
set(KVI_DLLTOOL ${KVI_MINGW_TRIPLE}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${KVI_MINGW_TRIPLE} ${KVI_EXTRA_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests of this build run under Wine (64-bit Wine is what the machines have).
find_program(KVI_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(KVI_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KVI_WINE64})
endif()
