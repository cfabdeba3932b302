# SPDX-License-Identifier: GPL-3.0-or-later
# Each library sees the source folders of its own layer and of the targets it
# links, nothing more. Sources include root-relative ("platform/wave/MMSystem.h"),
# so a target does not get the source root as its include path: it gets a
# staged folder in the build tree, layers/<target>/, that holds links to its
# own source folders only. Linking a target passes its staged folder on (PUBLIC
# for libraries, INTERFACE for header-only ones), so an include of a folder the
# target does not link finds nothing and fails to compile.
#
#   sendolin_stage_includes(<target> <folder relative to the source root>...)
function(sendolin_stage_includes target)
  set(stage ${CMAKE_BINARY_DIR}/layers/${target})
  foreach(folder IN LISTS ARGN)
    cmake_path(GET folder PARENT_PATH parent)
    file(MAKE_DIRECTORY ${stage}/${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${stage}/${folder} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${stage})
  else()
    target_include_directories(${target} PUBLIC ${stage})
  endif()
endfunction()
