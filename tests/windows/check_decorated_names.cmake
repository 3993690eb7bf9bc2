# Compiles api_stubs.c for 32-bit Windows and asserts that the object defines
# exactly the 21 API functions under their standard-call decorated names
# (underscore, name, "@", argument bytes), each marked for export, and that
# the library's version resource compiles.
#   cmake -DSOURCE_DIR=<project> -DWORK_DIR=<dir> -P check_decorated_names.cmake
cmake_minimum_required(VERSION 3.20)
find_program(MINGW_CC i686-w64-mingw32-gcc)
find_program(MINGW_NM i686-w64-mingw32-nm)
find_program(MINGW_OBJCOPY i686-w64-mingw32-objcopy)
find_program(MINGW_WINDRES i686-w64-mingw32-windres)
if(NOT MINGW_CC OR NOT MINGW_NM OR NOT MINGW_OBJCOPY OR NOT MINGW_WINDRES)
  message("windows_decorated_names skipped: i686-w64-mingw32-gcc not found "
          "(install gcc-mingw-w64-i686, as tools/deps.sh does)")
  return()
endif()

set(expected
  _MkGetVersion@0 _MkCreateInterpreter@0 _MkDestroyInterpreter@4 _MkSetWideAPI@8
  _MkSvEval@8 _MkSvEvalSv@8 _MkErrSv@4 _MkCompErrSv@4
  _MkGetSV@12 _MkGetAV@12 _MkGetHV@12
  _MkSvNew@4 _MkSvSetPv@12 _MkSvLEN@8 _MkSvGET@16 _MkSvDeRef@8
  _MkAvLEN@8 _MkSvFetchAV@12 _MkStoreAv@16 _MkExtendAv@12 _MkUndefAV@8)

file(MAKE_DIRECTORY "${WORK_DIR}")
set(object "${WORK_DIR}/api_stubs.obj")
execute_process(
  COMMAND "${MINGW_CC}" -std=c99 -Wall -Wextra -Werror -c "${SOURCE_DIR}/tests/windows/api_stubs.c"
          -I "${SOURCE_DIR}/include" -o "${object}"
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the header does not compile for 32-bit Windows:\n${err}")
endif()

execute_process(COMMAND "${MINGW_NM}" --defined-only "${object}" OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${object}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(defined)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ T (.+)$")
    list(APPEND defined "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT defined)
list(SORT expected)
if(NOT defined STREQUAL expected)
  message(FATAL_ERROR "decorated names differ\n  expected: ${expected}\n  defined:  ${defined}")
endif()

# MOKAVI_API must mark every one for export: the linker directives name them.
execute_process(COMMAND "${MINGW_OBJCOPY}" -O binary -j .drectve "${object}" "${WORK_DIR}/drectve.bin"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the object has no linker directives: nothing is exported")
endif()
file(READ "${WORK_DIR}/drectve.bin" directives)
foreach(name IN LISTS expected)
  string(REGEX REPLACE "^_" "" exported "${name}")
  string(FIND "${directives}" "-export:\"${exported}\"" at_quoted)
  string(FIND "${directives}" "-export:${exported}" at_plain)
  if(at_quoted EQUAL -1 AND at_plain EQUAL -1)
    message(FATAL_ERROR "${name} is not marked for export; directives: ${directives}")
  endif()
endforeach()

execute_process(COMMAND "${MINGW_WINDRES}" "${SOURCE_DIR}/src/mokavi.rc" -O coff -o "${WORK_DIR}/mokavi.res.o"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the version resource does not compile:\n${err}")
endif()
list(LENGTH expected count)
message(STATUS "${count} functions with their decorated names, all exported; version resource compiles")
