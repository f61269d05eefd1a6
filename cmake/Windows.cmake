# Settings of the Windows build (cmake/mingw-w64-x86_64.cmake), read by the
# top CMakeLists.txt in place of the POSIX ones:
#   platform/os_win32 implements the OS seam, with Winsock and the system
#   libraries; no libedit: the console's own line input edits lines;
#   every program and DLL lands in bin/, beside tcl86.dll and the compiler's
#   runtime DLLs, with Tcl's script library in lib/, where tcl86.dll looks
#   for it (..\lib\tcl8.6 from its own folder).
if(NOT ORX_TCL_ROOT)
  message(FATAL_ERROR "the Windows build needs ORX_TCL_ROOT: a Tcl built for Windows "
                      "(scripts/build-win-deps.sh tcl build-win/tcl-win)")
endif()

set(ORX_OS_DIR os_win32)
set(ORX_OS_LIBS ws2_32 advapi32 user32 bcrypt)
set(ORX_LIBEDIT_INCLUDE)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(ORX_WIN_BIN ${CMAKE_BINARY_DIR}/bin)

# What the programs need at run time besides our own DLLs.
set(ORX_WIN_RUNTIME_DLLS ${ORX_TCL_ROOT}/bin/tcl86.dll)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
  endif()
  list(APPEND ORX_WIN_RUNTIME_DLLS ${_path})
endforeach()
file(COPY ${ORX_WIN_RUNTIME_DLLS} DESTINATION ${ORX_WIN_BIN})
file(COPY ${ORX_TCL_ROOT}/lib/tcl8.6 ${ORX_TCL_ROOT}/lib/tcl8 DESTINATION ${CMAKE_BINARY_DIR}/lib)

# orx_wine_path(<var> <path>): the name a Windows program under wine gives a
# file of this machine (wine maps / to drive Z:).
function(orx_wine_path var path)
  set(${var} "Z:${path}" PARENT_SCOPE)
endfunction()
