# The installation tree in the build directory, ${CMAKE_BINARY_DIR}/install:
# what MORVA_HOME names when the environment does not (the library's built-in
# default), refreshed on every build by the target orx_install_tree:
#   bin/orxsh, bin/libtq_zub.so, bin/lumbrine.so   shell and start-up packages
#   lib/libtq_orxtcl.so, lib/orx/pkgIndex.tcl        "package require Orx" for tclsh
#   lib/orx/autoload.tcl                             script-level auto-loading
#   lib/orx/orx.tlib, lib/orx/orx.tndx               script library built from
#                                                    data/lib/orx/src by orxlib
#   config/typemap.tq, config/tessary.cfg            type map and configuration
#   doc/                                             the reference, read by help
# On Windows the DLLs sit beside orxsh.exe in bin/ (libtq_orxtcl.dll, the
# stand-ins, tcl86.dll, the compiler's runtime; libtq_zub.dll, lumbrine.dll)
# and Tcl's script library in lib/tcl8.6, where tcl86.dll looks for it.
# Run as a script (cmake -P) it copies the data files, tolerating missing ones.
if(CMAKE_SCRIPT_MODE_FILE)
  string(REPLACE "|" ";" pairs "${ORX_COPY_PAIRS}")
  foreach(pair IN LISTS pairs)
    string(REPLACE "=>" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    if(EXISTS "${from}")
      configure_file("${from}" "${to}" COPYONLY)
    endif()
  endforeach()
  return()
endif()

set(ORX_INSTALL_DIR ${CMAKE_BINARY_DIR}/install)
# A package built for installing (cmake/Install.cmake) names its installed
# tree instead, so that it never reaches back into the build machine.
option(ORX_HOME_IN_BUILD "Built-in MORVA_HOME: this build's installation tree (OFF: the installed one)" ON)
if(ORX_HOME_IN_BUILD)
  target_compile_definitions(orx_shell PRIVATE ORX_DEFAULT_MORVA_HOME="${ORX_INSTALL_DIR}")
endif()
target_compile_definitions(orx_shell PRIVATE ORX_VERSION_TEXT="${PROJECT_VERSION}")

# pkgIndex.tcl finds the installation and the library relative to itself.
set(ORX_PKG_HOME ../..)
set(ORX_PKG_LIBRARY ../libtq_orxtcl.so)
configure_file(${CMAKE_SOURCE_DIR}/data/pkgIndex.tcl.in ${CMAKE_BINARY_DIR}/pkgIndex.tcl @ONLY)

set(_data ${CMAKE_SOURCE_DIR}/data)
string(JOIN "|" ORX_COPY_PAIRS
  "${_data}/lib/orx/autoload.tcl=>${ORX_INSTALL_DIR}/lib/orx/autoload.tcl"
  "${CMAKE_BINARY_DIR}/pkgIndex.tcl=>${ORX_INSTALL_DIR}/lib/orx/pkgIndex.tcl"
  "${_data}/config/typemap.tq=>${ORX_INSTALL_DIR}/config/typemap.tq"
  "${_data}/config/tessary.cfg=>${ORX_INSTALL_DIR}/config/tessary.cfg")
set(_binaries $<TARGET_FILE:tq_zub> $<TARGET_FILE:lumbrine>)
if(TARGET orxsh)
  list(APPEND _binaries $<TARGET_FILE:orxsh>)
endif()

set(_libdir ${ORX_INSTALL_DIR}/lib)
set(_extra)
if(WIN32)
  set(_libdir ${ORX_INSTALL_DIR}/bin)
  set(_extra COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ORX_WIN_RUNTIME_DLLS} ${_libdir}
             COMMAND ${CMAKE_COMMAND} -E copy_directory ${ORX_TCL_ROOT}/lib/tcl8.6
                     ${ORX_INSTALL_DIR}/lib/tcl8.6
             COMMAND ${CMAKE_COMMAND} -E copy_directory ${ORX_TCL_ROOT}/lib/tcl8
                     ${ORX_INSTALL_DIR}/lib/tcl8)
endif()
if(WIN32)
  set(_libcopy COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tq_orxtcl>
                       $<TARGET_FILE:tq_tessary> $<TARGET_FILE:tq_tclbuild> $<TARGET_FILE:tq_cc> ${_libdir}
               ${_extra})
else()
  set(_libcopy
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tq_orxtcl> ${ORX_INSTALL_DIR}/lib/libtq_orxtcl.so
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tq_tessary>
            ${ORX_INSTALL_DIR}/lib/$<TARGET_SONAME_FILE_NAME:tq_tessary>
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tq_tclbuild>
            ${ORX_INSTALL_DIR}/lib/$<TARGET_SONAME_FILE_NAME:tq_tclbuild>
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tq_cc>
            ${ORX_INSTALL_DIR}/lib/$<TARGET_SONAME_FILE_NAME:tq_cc>)
endif()
add_custom_target(orx_install_tree ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ORX_INSTALL_DIR}/bin ${ORX_INSTALL_DIR}/lib/orx
          ${ORX_INSTALL_DIR}/config
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_binaries} ${ORX_INSTALL_DIR}/bin
  ${_libcopy}
  COMMAND ${CMAKE_COMMAND} "-DORX_COPY_PAIRS=${ORX_COPY_PAIRS}" -P ${CMAKE_CURRENT_LIST_FILE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/docs ${ORX_INSTALL_DIR}/doc
  COMMENT "Refreshing the installation tree ${ORX_INSTALL_DIR}"
  VERBATIM)
add_dependencies(orx_install_tree tq_zub lumbrine tq_orxtcl)

# The script library (Orx:MathInit, constant, ...) made by the library
# builder itself, as any product library is made.
file(GLOB ORX_SCRIPT_SOURCES CONFIGURE_DEPENDS ${_data}/lib/orx/src/*.tcl)
list(SORT ORX_SCRIPT_SOURCES)
if(TARGET orxlib)
  set(_tlib ${ORX_INSTALL_DIR}/lib/orx/orx.tlib)
  add_custom_command(OUTPUT ${_tlib} ${ORX_INSTALL_DIR}/lib/orx/orx.tndx
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ORX_INSTALL_DIR}/lib/orx
    COMMAND ${CMAKE_COMMAND} -E env MORVA_HOME=${_data} ASAN_OPTIONS=detect_leaks=0
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:orxlib> ${_tlib} ${ORX_SCRIPT_SOURCES}
    DEPENDS orxlib ${ORX_SCRIPT_SOURCES} ${_data}/lib/orx/autoload.tcl
    COMMENT "Building the script library ${_tlib}"
    VERBATIM)
  add_custom_target(orx_script_library DEPENDS ${_tlib})
  add_dependencies(orx_install_tree orx_script_library)
endif()
if(TARGET orxsh)
  add_dependencies(orx_install_tree orxsh)
endif()
