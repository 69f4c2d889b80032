# What `cmake --install` writes, the CMake and pkg-config packages that
# find it, and the release packages (CPack). Every file is found relative
# to where it was installed, so an installation may be moved.
include(CMakePackageConfigHelpers)

set(KVI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KVIABDB)

if(KVI_FAULT_HOOK)
  install(CODE "message(WARNING \"this KVIABIO carries the test fault hook (KVI_FAULT_HOOK, on with KVI_TESTS): \"
                              \"install a build configured with -DKVI_TESTS=OFF for use\")")
endif()

install(TARGETS kviabdb kviabio EXPORT KVIABDBTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kviabdb.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KVIABDB.lib ${KVI_DEF_DIR}/kviabdb.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR} OPTIONAL)
endif()
if(TARGET kvidf)
  install(TARGETS kvidf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
# README links into docs/, so they keep that layout.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

# find_package(KVIABDB CONFIG): KVIABDB::kviabdb.
install(EXPORT KVIABDBTargets NAMESPACE KVIABDB:: DESTINATION ${KVI_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KVIABDBConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KVIABDBConfig.cmake INSTALL_DESTINATION ${KVI_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KVIABDBConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KVIABDBConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/KVIABDBConfigVersion.cmake DESTINATION ${KVI_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own folder.
if(NOT WIN32)
  file(RELATIVE_PATH KVI_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" KVI_PC_TO_PREFIX "${KVI_PC_TO_PREFIX}")
  file(RELATIVE_PATH KVI_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH KVI_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kviabdb.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kviabdb.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kviabdb.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/packaging.cmake)
