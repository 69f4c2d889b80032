# 32-bit Linux build with g++ -m32 (Debian's g++-multilib): the library's
# 32-bit list handles and structure layouts, tested by running code.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
# Where the kernel runs no 32-bit code (these machines), tests run under
# qemu's user-mode emulator: scripts/test32.sh passes it.
if(KVI_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KVI_EMULATOR})
endif()
