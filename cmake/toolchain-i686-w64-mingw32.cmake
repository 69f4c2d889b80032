# Cross build for i686 Windows with Debian's mingw-w64 (the posix thread
# model: the C++ runtime's threads and mutexes need it; it is linked in
# statically, so the DLLs need nothing beyond the system's own).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KVI_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KVI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVI_MINGW_TRIPLE}-windres)
set(KVI_DLLTOOL ${KVI_MINGW_TRIPLE}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${KVI_MINGW_TRIPLE} ${KVI_EXTRA_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
