# Every test's line in ctest's output fits in 120 columns:
#
#   cmake -D CTEST=<ctest> -D BUILD_DIR=<dir> -D WORK_DIR=<dir> [-D CONFIG=<config>] -P check_test_names.cmake
#
# ctest prints "NNN/NNN Test #NNN: NAME ...   Passed    0.01 sec" with every name padded to the
# longest, so one long name widens every line. `ctest -N` lists the tests without running any;
# it runs in WORK_DIR, over BUILD_DIR's tests, so that its log leaves a ctest running in
# BUILD_DIR alone.
cmake_minimum_required(VERSION 3.25)

file(WRITE "${WORK_DIR}/CTestTestfile.cmake" "subdirs(\"${BUILD_DIR}\")\n")
set(config)
if(CONFIG)
  set(config -C "${CONFIG}")
endif()
execute_process(COMMAND "${CTEST}" --test-dir "${WORK_DIR}" -N ${config}
                OUTPUT_VARIABLE listing ERROR_VARIABLE listing RESULT_VARIABLE status TIMEOUT 30)
string(REGEX MATCHALL "Test +#[0-9]+: [^\n]*" tests "${listing}")
list(LENGTH tests count)
if(NOT status EQUAL 0 OR count EQUAL 0)
  message(FATAL_ERROR "ctest -N listed no test (${status}):\n${listing}")
endif()

# Before the name "NNN/NNN Test #NNN: ", after it 4 columns of padding and "   Passed    0.01 sec".
string(LENGTH "${count}" digits)
math(EXPR longest "120 - (3 * ${digits} + 10) - 4 - 21")
set(long)
foreach(test IN LISTS tests)
  string(REGEX REPLACE "^Test +#[0-9]+: " "" name "${test}")
  string(LENGTH "${name}" length)
  if(length GREATER longest)
    list(APPEND long "  ${name} (${length})")
  endif()
endforeach()
if(long)
  list(JOIN long "\n" text)
  message(FATAL_ERROR "names longer than ${longest} characters widen ctest's lines past 120 columns:\n${text}")
endif()
message("${count} tests, every name at most ${longest} characters")
