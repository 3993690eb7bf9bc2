# Flags every target of ours gets: strict warnings and, when asked for,
# sanitizers. Applied per target so nothing leaks into consumers' builds.
function(mokavi_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(MOKAVI_SANITIZE)
    string(REPLACE ";" "," _sanitizers "${MOKAVI_SANITIZE}")
    target_compile_options(${target} PRIVATE -fsanitize=${_sanitizers} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${_sanitizers})
  endif()
endfunction()
