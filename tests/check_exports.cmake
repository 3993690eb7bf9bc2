# Asserts that the shared library exports exactly the 21 API functions.
# Usage: cmake -DLIBRARY=path/to/libmokavi.so -DNM=nm -P check_exports.cmake
set(expected
  MkAvLEN MkCompErrSv MkCreateInterpreter MkDestroyInterpreter MkErrSv MkExtendAv
  MkGetAV MkGetHV MkGetSV MkGetVersion MkSetWideAPI MkStoreAv MkSvDeRef MkSvEval
  MkSvEvalSv MkSvFetchAV MkSvGET MkSvLEN MkSvNew MkSvSetPv MkUndefAV)
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(exported)
foreach(line IN LISTS lines)
  # Function symbols only (T/W/i); data and absolute symbols are not API.
  if(line MATCHES "^[0-9a-fA-F]+ [TWi] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_ITEM exported _init _fini)
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported functions differ\n  expected: ${expected}\n  exported: ${exported}")
endif()
list(LENGTH exported count)
message(STATUS "1 passed, 0 failed: ${count} functions exported")
