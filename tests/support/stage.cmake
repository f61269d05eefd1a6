# cmake -DSTAGE=dir -DPREFIX=prefix -DBUILD=builddir -P stage.cmake
# A fresh staged installation of the build: DESTDIR=dir cmake --install.
file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install into ${STAGE} failed: ${status}")
endif()
