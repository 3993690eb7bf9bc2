# Builds the Debian package with CPack and checks what it declares and holds:
# a dependency on the libperl package, and the library, soname link,
# headers, CMake package, pkg-config file and command in their places.
# Then unpacks it and runs the packaged command against the packaged library.
#   cmake -DBUILD_DIR=<build tree> -DWORK_DIR=<dir> -P check_deb.cmake
cmake_minimum_required(VERSION 3.20)
find_program(DPKG_DEB dpkg-deb)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(FILE_COMMAND file)
if(NOT DPKG_DEB OR NOT DPKG_SHLIBDEPS OR NOT FILE_COMMAND)
  message("debian_package skipped: dpkg-deb, dpkg-shlibdeps (dpkg-dev) or file is missing")
  return()
endif()

include("${CMAKE_CURRENT_LIST_DIR}/run_checked.cmake")

file(REMOVE_RECURSE "${WORK_DIR}")
get_filename_component(cpack "${CMAKE_COMMAND}" DIRECTORY)
run("${cpack}/cpack" --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}")
file(GLOB debs "${WORK_DIR}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${WORK_DIR}, found: ${debs}")
endif()

run("${DPKG_DEB}" --field "${debs}" Package Version Depends)
message(STATUS "${out}")
if(NOT out MATCHES "Package: mokavi\n" OR NOT out MATCHES "Version: 1\\.2\\.0\n")
  message(FATAL_ERROR "unexpected package name or version:\n${out}")
endif()
if(NOT out MATCHES "Depends:.*libperl5\\.[0-9]+")
  message(FATAL_ERROR "the package does not depend on libperl:\n${out}")
endif()

run("${DPKG_DEB}" --contents "${debs}")
foreach(entry
    "./usr/lib/libmokavi.so.1.2.0\n"
    "./usr/lib/libmokavi.so.1 -> libmokavi.so.1.2.0\n"
    "./usr/lib/libmokavi.so -> libmokavi.so.1\n"
    "./usr/include/mokavi.h\n" "./usr/include/mokavi.hpp\n"
    "./usr/lib/cmake/Mokavi/MokaviConfig.cmake\n" "./usr/lib/cmake/Mokavi/MokaviConfigVersion.cmake\n"
    "./usr/lib/cmake/Mokavi/MokaviTargets.cmake\n" "./usr/lib/pkgconfig/mokavi.pc\n"
    "./usr/bin/mokavi\n")
  string(FIND "${out}" "${entry}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not in the package: ${entry}\n${out}")
  endif()
endforeach()

# The packaged command runs with the packaged library (its rpath is relative).
run("${DPKG_DEB}" -x "${debs}" "${WORK_DIR}/root")
run("${WORK_DIR}/root/usr/bin/mokavi" -e "'from the package'")
if(NOT out STREQUAL "from the package\n")
  message(FATAL_ERROR "packaged mokavi printed: ${out}")
endif()
