# Turns what gnustep-config reports into an imported target, so that every Objective-C++ target
# gets GNUstep's runtime flags and sees its headers as system headers (their warnings are not ours).
find_program(GNUSTEP_CONFIG gnustep-config REQUIRED)

execute_process(COMMAND ${GNUSTEP_CONFIG} --objc-flags
                OUTPUT_VARIABLE _gs_objc_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${GNUSTEP_CONFIG} --base-libs
                OUTPUT_VARIABLE _gs_base_libs OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(_gs_objc_flags UNIX_COMMAND "${_gs_objc_flags}")
separate_arguments(_gs_base_libs UNIX_COMMAND "${_gs_base_libs}")

set(_gs_compile_options)
set(_gs_definitions)
set(_gs_includes)
foreach(flag IN LISTS _gs_objc_flags)
  if(flag MATCHES "^-I(.+)$")
    if(NOT CMAKE_MATCH_1 STREQUAL "." AND IS_DIRECTORY "${CMAKE_MATCH_1}")
      list(APPEND _gs_includes "${CMAKE_MATCH_1}")
    endif()
  elseif(flag MATCHES "^-D(.+)$")
    list(APPEND _gs_definitions "${CMAKE_MATCH_1}")
  elseif(flag MATCHES "^-f" OR flag STREQUAL "-pthread")
    list(APPEND _gs_compile_options "${flag}")
  endif()
  # -MMD, -MP, -g, -O2, -Wall and the like are the build type's and the project's business.
endforeach()

set(_gs_link_dirs)
set(_gs_link_libs)
set(_gs_link_options)
foreach(flag IN LISTS _gs_base_libs)
  if(flag MATCHES "^-L(.+)$")
    if(IS_DIRECTORY "${CMAKE_MATCH_1}")
      list(APPEND _gs_link_dirs "${CMAKE_MATCH_1}")
    endif()
  elseif(flag MATCHES "^-l(.+)$")
    list(APPEND _gs_link_libs "${CMAKE_MATCH_1}")
  else()
    list(APPEND _gs_link_options "${flag}")
  endif()
endforeach()

add_library(GNUstep::Base INTERFACE IMPORTED)
set_target_properties(GNUstep::Base PROPERTIES
  INTERFACE_COMPILE_OPTIONS "$<$<COMPILE_LANGUAGE:OBJCXX>:${_gs_compile_options}>"
  INTERFACE_COMPILE_DEFINITIONS "${_gs_definitions}"
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${_gs_includes}"
  INTERFACE_INCLUDE_DIRECTORIES "${_gs_includes}"
  INTERFACE_LINK_DIRECTORIES "${_gs_link_dirs}"
  INTERFACE_LINK_LIBRARIES "${_gs_link_libs}"
  INTERFACE_LINK_OPTIONS "${_gs_link_options}")
