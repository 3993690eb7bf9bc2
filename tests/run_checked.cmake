# run(COMMAND...): runs a command in a -P script, stops the script with its
# output when it fails, and leaves its standard output in `out`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
