# Locates the system's libperl and describes it as the imported target
# Mokavi::perl_embed: the compile flags libperl was built with (they change
# struct layouts, so every translation unit that includes perl.h needs them),
# its headers as system headers, and the library itself.
find_program(PERL_EXECUTABLE perl REQUIRED)

function(_mokavi_perl_config key out)
  execute_process(
    COMMAND "${PERL_EXECUTABLE}" -MConfig -e "print \$Config{${key}}"
    OUTPUT_VARIABLE value
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "perl could not report \$Config{${key}}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

_mokavi_perl_config(archlibexp PERL_ARCHLIB)
_mokavi_perl_config(ccflags PERL_CCFLAGS)
_mokavi_perl_config(version PERL_VERSION_STRING)
_mokavi_perl_config(usemultiplicity PERL_MULTIPLICITY)

if(NOT PERL_MULTIPLICITY STREQUAL "define")
  message(FATAL_ERROR "libperl must be built with multiplicity (-Dusemultiplicity)")
endif()

set(PERL_CORE_DIR "${PERL_ARCHLIB}/CORE")
if(NOT EXISTS "${PERL_CORE_DIR}/perl.h")
  message(FATAL_ERROR "perl.h not found in ${PERL_CORE_DIR}: install libperl-dev")
endif()
find_library(PERL_LIBRARY NAMES perl PATHS "${PERL_CORE_DIR}" NO_DEFAULT_PATH)
if(NOT PERL_LIBRARY)
  find_library(PERL_LIBRARY NAMES perl REQUIRED)
endif()

# Keep only the -D and -f flags: the include and library paths come from above.
separate_arguments(_perl_flags UNIX_COMMAND "${PERL_CCFLAGS}")
set(PERL_DEFINES)
set(PERL_OPTIONS)
foreach(flag IN LISTS _perl_flags)
  if(flag MATCHES "^-D(.+)$")
    list(APPEND PERL_DEFINES "${CMAKE_MATCH_1}")
  elseif(flag MATCHES "^-f(wrapv|no-strict-aliasing)$")
    list(APPEND PERL_OPTIONS "${flag}")
  endif()
endforeach()

add_library(Mokavi::perl_embed INTERFACE IMPORTED)
set_target_properties(Mokavi::perl_embed PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${PERL_CORE_DIR}"
  INTERFACE_INCLUDE_DIRECTORIES "${PERL_CORE_DIR}"
  INTERFACE_COMPILE_DEFINITIONS "${PERL_DEFINES};PERL_NO_GET_CONTEXT"
  INTERFACE_COMPILE_OPTIONS "${PERL_OPTIONS}"
  INTERFACE_LINK_LIBRARIES "${PERL_LIBRARY};${CMAKE_DL_LIBS}")
message(STATUS "Embedding perl ${PERL_VERSION_STRING} from ${PERL_LIBRARY}")
