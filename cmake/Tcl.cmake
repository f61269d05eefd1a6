# Locates Tcl 8.6: the system's tcl8.6-dev, or the prefix given in ORX_TCL_ROOT
# (the sanitizer build points it at a Tcl built with -DPURIFY).
if(ORX_TCL_ROOT)
  set(_tcl_inc ${ORX_TCL_ROOT}/include)
  # Windows: the import library of tcl86.dll (scripts/build-win-deps.sh).
  find_library(ORX_TCL_LIBRARY NAMES tcl8.6 tcl86 PATHS ${ORX_TCL_ROOT}/lib NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  if(WIN32)
    # tclWinPort.h renames "exception" (for math.h's struct), which breaks
    # std::exception in C++ after it: a shadow takes the macro back.
    set(_shadow ${CMAKE_BINARY_DIR}/tcl-winport)
    # (file(CONFIGURE) leaves it untouched when unchanged: no rebuilds.)
    file(CONFIGURE OUTPUT ${_shadow}/tclWinPort.h
         CONTENT "#include_next <tclWinPort.h>\n#ifdef __cplusplus\n#undef exception\n#endif\n")
    set(ORX_TCL_PRIVATE_INCLUDE_DIRS ${_shadow} ${ORX_TCL_ROOT}/include/tcl-private/generic
        ${ORX_TCL_ROOT}/include/tcl-private/win)
  else()
    set(ORX_TCL_PRIVATE_INCLUDE_DIRS ${ORX_TCL_ROOT}/include/tcl-private/generic ${ORX_TCL_ROOT}/include/tcl-private/unix)
  endif()
  set(ORX_TCL_LIBRARY_DIR ${ORX_TCL_ROOT}/lib/tcl8.6)
else()
  set(_tcl_inc /usr/include/tcl8.6)
  find_library(ORX_TCL_LIBRARY NAMES tcl8.6 REQUIRED)
  set(ORX_TCL_PRIVATE_INCLUDE_DIRS /usr/include/tcl8.6/tcl-private/generic /usr/include/tcl8.6/tcl-private/unix)
  set(ORX_TCL_LIBRARY_DIR /usr/share/tcltk/tcl8.6)
endif()
if(NOT EXISTS ${_tcl_inc}/tcl.h)
  message(FATAL_ERROR "tcl.h not found in ${_tcl_inc}; install tcl8.6-dev")
endif()
add_library(OrxTcl::Tcl SHARED IMPORTED)
set_target_properties(OrxTcl::Tcl PROPERTIES
  IMPORTED_LOCATION ${ORX_TCL_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${_tcl_inc})
if(WIN32)
  # Linked through the import library of tcl86.dll.
  set_target_properties(OrxTcl::Tcl PROPERTIES IMPORTED_IMPLIB ${ORX_TCL_LIBRARY}
                        IMPORTED_LOCATION ${ORX_TCL_ROOT}/bin/tcl86.dll)
endif()
# Tcl's private headers hold names (regex.h, unistd.h) that must not shadow
# the system's: search them after every other directory.
set(ORX_TCL_PRIVATE_FLAGS)
foreach(d ${ORX_TCL_PRIVATE_INCLUDE_DIRS})
  list(APPEND ORX_TCL_PRIVATE_FLAGS "SHELL:-idirafter ${d}")
endforeach()
# tclUnixPort.h otherwise pulls in Tcl's compat replacement of unistd.h.
if(WIN32)
  set(ORX_TCL_PRIVATE_DEFS)
else()
  set(ORX_TCL_PRIVATE_DEFS HAVE_UNISTD_H=1)
endif()
message(STATUS "Tcl: ${ORX_TCL_LIBRARY} (headers ${_tcl_inc})")
