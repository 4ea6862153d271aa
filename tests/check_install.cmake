# cmake -D BUILD_DIR=... -D PREFIX=... -D CONFIG=... -D FILES=a;b -D PROGRAM=bin/x
#       [-D EMULATOR=...] -P check_install.cmake
# Installs the build into PREFIX, afresh, and checks the tree: every file of FILES is
# there, nothing of the test framework came along, and the installed program runs.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --config ${CONFIG}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}")
endif()

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
string(REPLACE ";" "\n  " listing "${installed}")
foreach(f IN LISTS FILES)
  if(NOT f IN_LIST installed)
    message(FATAL_ERROR "${f} was not installed; the tree holds:\n  ${listing}")
  endif()
endforeach()
foreach(f IN LISTS installed)
  if(f MATCHES "gtest|gmock|googletest")
    message(FATAL_ERROR "${f}: the test framework was installed along; the tree holds:\n  ${listing}")
  endif()
endforeach()

execute_process(COMMAND ${EMULATOR} ${PREFIX}/${PROGRAM} -V 1
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT err MATCHES "^slotfill version 2010-07-18")
  message(FATAL_ERROR "${PROGRAM} -V 1: status ${status}, standard error:\n${err}")
endif()
message(STATUS "installed:\n  ${listing}")
