# Installs the build into a fresh prefix and builds two consumers against it,
# one through find_package(Mokavi), one through pkg-config, then runs them.
# The README's C example is built the same way.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DREADME=... -DCC=...
#         -DCXX=... -DOBJDUMP=... -P run_consumers.cmake
include("${CMAKE_CURRENT_LIST_DIR}/../run_checked.cmake")

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

# The library is versioned and carries its soname.
file(GLOB libdir LIST_DIRECTORIES true "${prefix}/lib*")
foreach(name libmokavi.so.1.2.0 libmokavi.so.1 libmokavi.so pkgconfig/mokavi.pc
             cmake/Mokavi/MokaviConfig.cmake cmake/Mokavi/MokaviConfigVersion.cmake)
  if(NOT EXISTS "${libdir}/${name}")
    message(FATAL_ERROR "not installed: ${libdir}/${name}")
  endif()
endforeach()
run("${OBJDUMP}" -p "${libdir}/libmokavi.so.1.2.0")
if(NOT out MATCHES "SONAME +libmokavi\\.so\\.1\n")
  message(FATAL_ERROR "soname is not libmokavi.so.1:\n${out}")
endif()
foreach(header mokavi.h mokavi.hpp)
  if(NOT EXISTS "${prefix}/include/${header}")
    message(FATAL_ERROR "header not installed: ${header}")
  endif()
endforeach()

# The installed command finds the installed library by itself.
run("${prefix}/bin/mokavi" -e "'installed ' . (3 * 4)")
if(NOT out STREQUAL "installed 12\n")
  message(FATAL_ERROR "installed mokavi printed: ${out}")
endif()

# find_package: same major, no newer minor.
foreach(want IN ITEMS 1.0 1.2 1.3 2.0)
  set(dir "${WORK_DIR}/find_package-${want}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/find_package" -B "${dir}"
                          "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}"
                          "-DMOKAVI_WANT=${want}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(want VERSION_LESS_EQUAL 1.2 AND NOT rc EQUAL 0)
    message(FATAL_ERROR "find_package(Mokavi ${want}) failed:\n${out}\n${err}")
  elseif(want VERSION_GREATER 1.2 AND rc EQUAL 0)
    message(FATAL_ERROR "find_package(Mokavi ${want}) accepted version 1.2.0")
  endif()
endforeach()
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/find_package-1.0")
run("${WORK_DIR}/find_package-1.0/consumer")
message(STATUS "${out}")

# pkg-config, with flags used exactly as given.
set(ENV{PKG_CONFIG_PATH} "${libdir}/pkgconfig")
run(pkg-config --cflags --libs mokavi)
separate_arguments(flags UNIX_COMMAND "${out}")
run("${CC}" "${SOURCE_DIR}/pkg_config/consumer.c" ${flags} -o "${WORK_DIR}/pkg_config_consumer")
set(ENV{LD_LIBRARY_PATH} "${libdir}")
run("${WORK_DIR}/pkg_config_consumer")
message(STATUS "${out}")
run(pkg-config --modversion mokavi)
if(NOT out STREQUAL "1.2.0\n")
  message(FATAL_ERROR "pkg-config reports version ${out}")
endif()

# The README's host in C, built against the installed tree.
file(READ "${README}" readme)
if(NOT readme MATCHES "```c\n(.*int main\\(void\\).*)\n```\n\nBuild it against the tree")
  message(FATAL_ERROR "no C example found in ${README}")
endif()
file(WRITE "${WORK_DIR}/readme_host.c" "${CMAKE_MATCH_1}\n")
run("${CC}" -Wall -Wextra -Werror "${WORK_DIR}/readme_host.c" ${flags} -o "${WORK_DIR}/readme_host")
run("${WORK_DIR}/readme_host")
if(NOT out STREQUAL "result: 1,3,4,6\n")
  message(FATAL_ERROR "README example printed: ${out}")
endif()
