# How the program's targets state the dependency graph.
#
# Every library of our own is registered with the source paths it owns (a folder or single files).
# At the end of the configuration tomeva_write_include_rules() writes, for each registered target,
# its paths and the targets it links directly; tools/check-includes.py then holds every file under
# src/ to its own target's dependencies, so that a subsystem cannot include a header of one it does
# not depend on (and a cycle cannot creep in through a header).

# tomeva_own_paths(<target> <path>...): paths relative to the project folder, a folder ("src/core/xml")
# or one file ("src/kms/kms.h"). The longest matching path decides which target owns a file.
function(tomeva_own_paths target)
  set_property(GLOBAL APPEND PROPERTY TOMEVA_OWNED_TARGETS ${target})
  set_property(TARGET ${target} APPEND PROPERTY TOMEVA_OWNED_PATHS ${ARGN})
endfunction()

# tomeva_core_subsystem(<name> SOURCES <file>... [PUBLIC <target>...] [PRIVATE <target>...])
# One core subsystem: the static library tomeva_<name> built from src/core/<name>/, linking the
# subsystems it uses. PUBLIC is for the ones whose types appear in its headers.
function(tomeva_core_subsystem name)
  cmake_parse_arguments(S "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(target tomeva_${name})
  add_library(${target} STATIC ${S_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${S_PUBLIC} PRIVATE ${S_PRIVATE} tomeva_warnings)
  tomeva_own_paths(${target} src/core/${name})
  set_property(GLOBAL APPEND PROPERTY TOMEVA_CORE_TARGETS ${target})
endfunction()

# Writes ${PROJECT_BINARY_DIR}/include_rules.txt: one line per registered target,
#   <target> paths=<path>;<path> deps=<target>;<target>
# with only registered targets among the dependencies.
function(tomeva_write_include_rules)
  get_property(targets GLOBAL PROPERTY TOMEVA_OWNED_TARGETS)
  list(REMOVE_DUPLICATES targets)
  set(text "")
  foreach(target ${targets})
    get_target_property(paths ${target} TOMEVA_OWNED_PATHS)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(links ${target} LINK_LIBRARIES)
    endif()
    set(deps "")
    foreach(link ${links})
      if(link IN_LIST targets)
        list(APPEND deps ${link})
      endif()
    endforeach()
    string(APPEND text "${target} paths=${paths} deps=${deps}\n")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/include_rules.txt "${text}")
endfunction()
