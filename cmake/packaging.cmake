# Release packages of the Linux build: a .tar.gz of the installed tree and
# a .deb (scripts/package.sh makes both, and the Windows .zip).
set(CPACK_PACKAGE_NAME kviabdb)
set(CPACK_PACKAGE_VENDOR "The KVIABDB authors")
set(CPACK_PACKAGE_CONTACT "The KVIABDB authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "address book and security book library of the remote-connection product, with kvidf")
set(CPACK_PACKAGE_DESCRIPTION
  "KVIABDB keeps the address book and the security book of a remote-connection product.
It ships the shared library libkviabdb.so with its file input/output library
libkviabio.so, the C header, CMake and pkg-config packages, and kvidf, the
command-line client.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR "TGZ;DEB")
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_STRIP_FILES ON)
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" kvi_platform)
set(CPACK_PACKAGE_FILE_NAME kviabdb-${PROJECT_VERSION}-${kvi_platform})

# The .deb installs under /usr, the tarball unpacks to a folder of its own.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/kviabdb-cpack-options.cmake)
# A release package never carries KVIABIO's test hook.
if(KVI_FAULT_HOOK)
  set(kvi_cpack_refusal "message(FATAL_ERROR \"this build has KVIABIO's test fault hook: package a build configured with -DKVI_TESTS=OFF (scripts/package.sh)\")")
else()
  set(kvi_cpack_refusal "")
endif()
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "${kvi_cpack_refusal}\n" [[
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
endif()
]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Depends from the libraries the binaries link (libc, libstdc++, libgcc).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for packages linking libkviabdb.so.1, and the ldconfig
# trigger that makes the new libraries known at once.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

include(CPack)
