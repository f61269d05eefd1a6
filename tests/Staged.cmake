# The tcltest files once more, against the installation that cmake --install makes
# (DESTDIR staging, prefix /usr): a file that no install rule carries fails here.  Not in
# sanitizer builds, whose runtime the installed shell lacks, nor for Windows, whose DLLs
# and start-up packages come into build-win/install by the build's own steps.
if(ORX_SANITIZE OR ORX_FUZZ OR WIN32 OR NOT TARGET orxsh)
  return()
endif()
set(ORX_STAGE ${CMAKE_BINARY_DIR}/stage)
set(ORX_STAGE_PREFIX /usr)
add_test(NAME stage.install
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${ORX_STAGE} -DPREFIX=${ORX_STAGE_PREFIX}
          -DBUILD=${CMAKE_BINARY_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/support/stage.cmake)
set_tests_properties(stage.install PROPERTIES FIXTURES_SETUP orx_stage)
set(_staged_shell ${ORX_STAGE}${ORX_STAGE_PREFIX}/${CMAKE_INSTALL_BINDIR}/orxsh)
# A home and a working directory (where tcltest makes its files) of their own: nothing is
# shared with the build's tests of the same name running beside them.
set(_staged_home ${CMAKE_BINARY_DIR}/test-home-staged)
set(_staged_work ${CMAKE_BINARY_DIR}/staged-tests)
file(MAKE_DIRECTORY ${_staged_home} ${_staged_work})
foreach(t ${ORX_TCL_TESTS})
  get_filename_component(name ${t} NAME_WE)
  add_test(NAME staged.${name}
    COMMAND ${_staged_shell} ${CMAKE_CURRENT_SOURCE_DIR}/tcl/run.tcl ${t}
    WORKING_DIRECTORY ${_staged_work})
  set_tests_properties(staged.${name} PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED orx_stage
    LABELS staged ENVIRONMENT
    "HOME=${_staged_home};ORX_TESTLIB=$<TARGET_FILE:orxtest>;ORX_BUILD_DIR=${CMAKE_BINARY_DIR};ORX_SOURCE_DIR=${CMAKE_SOURCE_DIR};ORX_TEST_SHELL=${_staged_shell};ORX_TESTHOST=$<TARGET_FILE:orx_testhost>;ORX_STAGE=${ORX_STAGE};ORX_STAGE_PREFIX=${ORX_STAGE_PREFIX};ORX_STAGE_LIBDIR=${CMAKE_INSTALL_LIBDIR}")
endforeach()
