# Installation and packaging: the library (versioned, with its soname), the
# headers, the command-line host, an exported CMake package with the target
# Mokavi::mokavi, a pkg-config file, and a Debian package built by CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MOKAVI_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Mokavi")

install(TARGETS mokavi EXPORT MokaviTargets
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES include/mokavi.h include/mokavi.hpp DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
# The installed command finds the library relative to itself, in any prefix.
file(RELATIVE_PATH _mokavi_bin_to_lib "/root/${CMAKE_INSTALL_BINDIR}" "/root/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(mokavi_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${_mokavi_bin_to_lib}")
install(TARGETS mokavi_cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(EXPORT MokaviTargets NAMESPACE Mokavi:: DESTINATION "${MOKAVI_CMAKE_DIR}")
configure_package_config_file(cmake/MokaviConfig.cmake.in
  "${PROJECT_BINARY_DIR}/MokaviConfig.cmake" INSTALL_DESTINATION "${MOKAVI_CMAKE_DIR}")
# 1.x consumers keep working with any later 1.y: the ABI only grows within a major.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/MokaviConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/MokaviConfig.cmake" "${PROJECT_BINARY_DIR}/MokaviConfigVersion.cmake"
  DESTINATION "${MOKAVI_CMAKE_DIR}")

# The .pc file finds the prefix from its own location, so the same file works
# for `cmake --install --prefix ANYWHERE` and for the .deb.
file(RELATIVE_PATH MOKAVI_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" MOKAVI_PC_TO_PREFIX "${MOKAVI_PC_TO_PREFIX}")
configure_file(cmake/mokavi.pc.in "${PROJECT_BINARY_DIR}/mokavi.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/mokavi.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# ---- Debian package ----------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mokavi)
set(CPACK_PACKAGE_VENDOR "Mokavi")
set(CPACK_PACKAGE_CONTACT "Mokavi developers <mokavi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Embed the Perl 5 interpreter through a flat C API")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# dpkg-shlibdeps turns the ELF dependencies into package names: libperl5.x,
# libc6, libstdc++6. Our own library is found in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
