# The layers, bottom up, each a target of its own whose include directories
# hold only what the layer may see:
#   include/                     the exported interface (every layer)
#   base/                        internal helpers, tcl.h only
#   platform/                    orxplat.h (the OS seam, implemented by
#                                os_posix/), tclint/ (Tcl's private
#                                structures), and the stand-in libraries
#                                cc/, tessary/, tclbuild/
#   extended/ library/ commands/ shell/   the subsystems, in that order
# A file includes "base/internal.h", "platform/orxplat.h",
# "platform/tclint/tclint.h" or "<subsystem>/<file>.h" by its path from the
# top of the tree; the path resolves only through a per-target view folder
# in the build tree that links in the folders the target may see, so an
# include that runs back up does not compile.
set(ORX_VIEW_ROOT ${CMAKE_BINARY_DIR}/layer-views)

# orx_layer_view(<target> <path>...): give target a view holding the listed
# paths of the source tree (folders or single files).
function(orx_layer_view target)
  set(view ${ORX_VIEW_ROOT}/${target})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(path ${ARGN})
    get_filename_component(parent ${view}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${view}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${view})
endfunction()

# Compile settings every layer shares.
function(orx_layer_target target)
  target_compile_options(${target} PRIVATE ${ORX_WARNINGS})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/include)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# orx_export_map(<target> <map>): only what the version script map names
# leaves the library (ELF).  A Windows DLL exports only what its headers mark
# __declspec(dllexport), so there is nothing to add.
function(orx_export_map target map)
  if(NOT WIN32)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${map})
  endif()
endfunction()
