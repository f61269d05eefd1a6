# Manual pages made from the reference at build time (scripts/manpages.tcl):
# orxsh(1) and one page per Tcl command in section 3orx, in ${ORX_MAN_DIR}.
find_program(ORX_TCLSH NAMES tclsh8.6 tclsh REQUIRED)
file(GLOB ORX_REFERENCE_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/reference/*.md)
set(ORX_MAN_DIR ${CMAKE_BINARY_DIR}/man)
# The set of pages follows the reference, so the folder is made afresh.
add_custom_command(OUTPUT ${ORX_MAN_DIR}/man1/orxsh.1
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ORX_MAN_DIR}
  COMMAND ${ORX_TCLSH} ${CMAKE_SOURCE_DIR}/scripts/manpages.tcl ${CMAKE_SOURCE_DIR}/docs/reference
          ${ORX_MAN_DIR} ${PROJECT_VERSION}
  DEPENDS ${ORX_REFERENCE_PAGES} ${CMAKE_SOURCE_DIR}/scripts/manpages.tcl
  COMMENT "Writing the manual pages"
  VERBATIM)
add_custom_target(orx_man ALL DEPENDS ${ORX_MAN_DIR}/man1/orxsh.1)
