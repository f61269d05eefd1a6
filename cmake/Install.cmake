# cmake --install: the GNU layout under a prefix P, relocatable as a whole
# (every path between the installed files is relative, DESTDIR staging works):
#   P/bin/orxsh                              the shell
#   P/<libdir>/libtq_orxtcl.so.N             the library and the stand-ins
#                                            libtq_tessary, libtq_tclbuild,
#                                            libtq_cc it needs (same SONAME scheme)
#   P/<libdir>/orx/libtq_zub.so, lumbrine.so the start-up packages
#   P/share/orx/                             the installation (MORVA_HOME):
#       lib/orx/ config/ doc/                script library, type map and
#                                            configuration, the reference
#       bin -> ../../<libdir>/orx            where orx:load looks along PATH
#   P/lib/tcltk/orx<version>/pkgIndex.tcl    package require Orx for tclsh8.6
#   P/include/orx/*.h                        the exported interface
#   P/<libdir>/pkgconfig/orx.pc, P/<libdir>/cmake/Orx/
#   P/share/man/man1/orxsh.1, man3/<command>.3orx
# <libdir> is lib/<multiarch> on Debian whatever the prefix (ldconfig and
# pkg-config search /usr/local/lib/<multiarch> too), else lib.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/Man.cmake)

foreach(dir BINDIR LIBDIR DATADIR INCLUDEDIR MANDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    message(FATAL_ERROR "CMAKE_INSTALL_${dir} must be relative to the prefix: the installation is relocatable")
  endif()
endforeach()

set(ORX_INSTALL_DIR ${CMAKE_BINARY_DIR}/install) # the build's tree (InstallTree.cmake)
set(ORX_HOME_DIR ${CMAKE_INSTALL_DATADIR}/orx)
set(ORX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/orx)
set(ORX_TCLTK_DIR lib/tcltk/orx${PROJECT_VERSION})
set(ORX_SOVERSION ${PROJECT_VERSION_MAJOR})

# Relative paths between installed directories, as seen from the first.
function(orx_relative var from to)
  file(RELATIVE_PATH rel /P/${from} /P/${to})
  if(rel STREQUAL "")
    set(rel .)
  endif()
  set(${var} ${rel} PARENT_SCOPE)
endfunction()

# ---- libraries and the shell -------------------------------------------------
foreach(lib tq_orxtcl ${ORX_STANDINS})
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${ORX_SOVERSION}
    INSTALL_RPATH "$ORIGIN")
endforeach()
orx_relative(_bin_to_lib ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR})
orx_relative(_bin_to_home ${CMAKE_INSTALL_BINDIR} ${ORX_HOME_DIR})
target_compile_definitions(orx_shell PRIVATE ORX_HOME_FROM_BINDIR="${_bin_to_home}")
if(NOT ORX_HOME_IN_BUILD)
  target_compile_definitions(orx_shell PRIVATE
    ORX_DEFAULT_MORVA_HOME="${CMAKE_INSTALL_FULL_DATADIR}/orx")
endif()

# The binaries carry their installed RUNPATH from the link on: rewritten at
# installation, CMake would leave the build's copies padded with empty entries,
# which the loader reads as the current directory (a libc.so.6 planted wherever
# the shell is started would be loaded).
if(NOT WIN32)
  set_target_properties(tq_orxtcl ${ORX_STANDINS} tq_zub lumbrine PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  if(TARGET orxsh)
    set_target_properties(orxsh PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  endif()
endif()

install(TARGETS tq_orxtcl ${ORX_STANDINS} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS tq_zub lumbrine LIBRARY DESTINATION ${ORX_PACKAGE_DIR})
if(TARGET orxsh)
  # Installed, the libraries are in the library directory; in the build tree
  # one level up (host/orxsh) or two (the installation tree's bin/orxsh).
  set_target_properties(orxsh PROPERTIES INSTALL_RPATH "$ORIGIN/${_bin_to_lib};$ORIGIN/..;$ORIGIN/../..")
  install(TARGETS orxsh RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# ---- the installation (MORVA_HOME) -------------------------------------------
install(FILES ${CMAKE_SOURCE_DIR}/data/lib/orx/autoload.tcl
              ${ORX_INSTALL_DIR}/lib/orx/orx.tlib ${ORX_INSTALL_DIR}/lib/orx/orx.tndx
        DESTINATION ${ORX_HOME_DIR}/lib/orx)
install(FILES ${CMAKE_SOURCE_DIR}/data/config/typemap.tq ${CMAKE_SOURCE_DIR}/data/config/tessary.cfg
        DESTINATION ${ORX_HOME_DIR}/config)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${ORX_HOME_DIR}/doc)
# The start-up packages are architecture-dependent and live under libdir;
# the installation's bin reaches them.
orx_relative(_home_to_packages ${ORX_HOME_DIR} ${ORX_PACKAGE_DIR})
install(CODE "
  set(_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ORX_HOME_DIR}/bin\")
  message(STATUS \"Installing: \${_link} -> ${_home_to_packages}\")
  file(REMOVE \"\${_link}\")
  file(CREATE_LINK \"${_home_to_packages}\" \"\${_link}\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_link}\")
")

# ---- package require Orx -------------------------------------------------------
orx_relative(ORX_PKG_HOME ${ORX_TCLTK_DIR} ${ORX_HOME_DIR})
orx_relative(_tcltk_to_lib ${ORX_TCLTK_DIR} ${CMAKE_INSTALL_LIBDIR})
set(ORX_PKG_LIBRARY ${_tcltk_to_lib}/libtq_orxtcl.so.${ORX_SOVERSION})
configure_file(${CMAKE_SOURCE_DIR}/data/pkgIndex.tcl.in ${CMAKE_BINARY_DIR}/installed/pkgIndex.tcl @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/installed/pkgIndex.tcl DESTINATION ${ORX_TCLTK_DIR})

# ---- for library writers -------------------------------------------------------
file(GLOB ORX_PUBLIC_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/*.h)
install(FILES ${ORX_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orx)

# orx.pc names the prefix given at install time, so it is written then.
set(ORX_PC_PREFIX @ORX_PC_PREFIX@)
configure_file(${CMAKE_CURRENT_LIST_DIR}/orx.pc.in ${CMAKE_BINARY_DIR}/installed/orx.pc.in @ONLY)
install(CODE "
  set(ORX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(_pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/orx.pc\")
  message(STATUS \"Installing: \${_pc}\")
  configure_file(\"${CMAKE_BINARY_DIR}/installed/orx.pc.in\" \"\${_pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_pc}\")
")

set(_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Orx)
orx_relative(ORX_CONFIG_TO_PREFIX ${_cmake_dir} .)
configure_file(${CMAKE_CURRENT_LIST_DIR}/OrxConfig.cmake.in ${CMAKE_BINARY_DIR}/installed/OrxConfig.cmake @ONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/installed/OrxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/installed/OrxConfig.cmake
              ${CMAKE_BINARY_DIR}/installed/OrxConfigVersion.cmake
        DESTINATION ${_cmake_dir})

# ---- manual pages ---------------------------------------------------------------
install(DIRECTORY ${ORX_MAN_DIR}/ DESTINATION ${CMAKE_INSTALL_MANDIR})
