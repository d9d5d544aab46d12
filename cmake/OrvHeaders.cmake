# orv_public_headers(target header...): what a library of the program
# offers to the code that links it. Only the headers named here can be
# included by its users: each gets a forwarding header in the build folder,
# which alone is on the users' include path. The library's own sources see
# the whole source folder, and so do the headers named here, whose
# includes of their neighbours find them beside themselves.
#
# The tests of a library's internals link <target>_internal, which adds the
# source folder.
function(orv_public_headers target)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_public")
  foreach(header IN LISTS ARGN)
    if(NOT EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${header}")
      message(FATAL_ERROR "orv_public_headers(${target}): no ${header} in ${CMAKE_CURRENT_SOURCE_DIR}")
    endif()
    file(CONFIGURE OUTPUT "${dir}/${header}"
         CONTENT "// The public header ${header} of ${target}.\n#pragma once\n#include \"${CMAKE_CURRENT_SOURCE_DIR}/${header}\"\n")
  endforeach()
  target_include_directories(${target} PUBLIC "${dir}" PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
  add_library(${target}_internal INTERFACE)
  target_include_directories(${target}_internal INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}")
  target_link_libraries(${target}_internal INTERFACE ${target})
endfunction()
