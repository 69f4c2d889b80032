# The test binary of a Windows build (x86_64, run under Wine). Included by
# tests/CMakeLists.txt with KVI_TEST_SOURCES globbed.
#
# Test files that need fork, POSIX headers or the POSIX platform's own
# interfaces cannot be built for Windows; they are left out here, each
# with the reason printed at configure time, and their Windows forms live
# in tests/win32/. Every other test file (and every new one) is built and
# run as it is.
set(KVI_POSIX_ONLY_PATTERN
  "fork\\(|RunInChild|waitpid|fcntl\\(|setenv|mkdtemp|getpid|gettid|::kill\\(|platform/posix/|<(sys/[a-z]+|signal|pthread|dlfcn|dirent|unistd)\\.h>")
set(kvi_windows_sources)
set(kvi_posix_only)
foreach(source ${KVI_TEST_SOURCES})
  if(source MATCHES "/support/test_support\\.cpp$")
    continue()  # the POSIX fixtures; win32/test_support_win32.cpp stands in
  endif()
  file(READ ${source} text)
  if(text MATCHES "${KVI_POSIX_ONLY_PATTERN}")
    get_filename_component(name ${source} NAME)
    list(APPEND kvi_posix_only "${name} [${CMAKE_MATCH_0}]")
  else()
    list(APPEND kvi_windows_sources ${source})
  endif()
endforeach()
string(REPLACE ";" ", " kvi_posix_only_text "${kvi_posix_only}")
message(STATUS "POSIX-only test files, not in the Windows build (what needs POSIX): ${kvi_posix_only_text}")

file(GLOB kvi_win32_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp)
add_executable(kviabdb_tests ${kvi_windows_sources} ${kvi_win32_test_sources})
target_include_directories(kviabdb_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# Its own main: the binary is also the helper process of the
# cross-process tests.
target_link_libraries(kviabdb_tests PRIVATE kviabdb_static GTest::gtest)
target_link_options(kviabdb_tests PRIVATE -static)
# mingw's g++ warns of the tests' bounded strncpy into fixed fields (a
# copy cut at the field is what they mean); g++ on Linux does not.
target_compile_options(kviabdb_tests PRIVATE -Wno-stringop-truncation)
# Beside KVIABIO.dll, which Windows looks for in the program's folder.
set_target_properties(kviabdb_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# All tests share the one Windows directory, so they run one after the
# other, and in one process: a Wine process start costs seconds, and each
# test starts on a zeroed shared block and removes its folders (the
# cross-process tests start helper processes of their own). One CTest test
# runs the whole binary; scripts/windows.sh runs it directly.
add_test(NAME kviabdb_tests_wine COMMAND kviabdb_tests --gtest_brief=1)
set_tests_properties(kviabdb_tests_wine PROPERTIES TIMEOUT 600)
