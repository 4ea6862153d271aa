# Running the Windows test programs under Wine from CTest.
#
# Every run uses a Wine prefix of its own under the build tree (created on first use,
# about 700 MB), set before test discovery runs the test program at build time.
#
# Wine's background processes inherit the standard streams of whichever program starts
# them. Started from a test they hold CTest's output pipe open for seconds after the
# test has ended, or for good when the server is persistent. So the fixture `wine`
# starts a persistent server and the background processes with every stream on
# /dev/null before the first test, and stops them all after the last one.

set(MODWELD_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for the tests")
set(MODWELD_WINEDEBUG "-all" CACHE STRING
    "WINEDEBUG for the tests (err+module names a DLL that a program cannot find)")
find_program(MODWELD_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine REQUIRED)

# The emulator with the test environment: a command list to run a Windows program.
set(MODWELD_WINE_COMMAND
    ${CMAKE_COMMAND} -E env
    "WINEPREFIX=${MODWELD_WINEPREFIX}"
    "WINEDEBUG=${MODWELD_WINEDEBUG}"
    # No prompt to install Wine's .NET and HTML engines into a fresh prefix.
    "WINEDLLOVERRIDES=mscoree,mshtml="
    ${CMAKE_CROSSCOMPILING_EMULATOR})

function(modweld_run_under_wine target)
  set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR "${MODWELD_WINE_COMMAND}")
endfunction()

# The server stays 60 s after its last client leaves, so an interrupted run that never
# reaches the cleanup test leaves nothing behind for long. What the setup prints goes to a
# log file, shown only when it fails.
add_test(NAME wine.start
         COMMAND sh -c [[
           log=$1 server=$2; shift 2
           { "$server" -k; "$server" -w; "$server" -p60 && "$@" wineboot; } </dev/null >"$log" 2>&1 ||
             { cat "$log"; exit 1; }
         ]] sh ${CMAKE_BINARY_DIR}/wine-start.log ${MODWELD_WINESERVER} ${MODWELD_WINE_COMMAND})
add_test(NAME wine.stop COMMAND sh -c [["$1" -k; "$1" -w]] sh ${MODWELD_WINESERVER})
set_tests_properties(wine.start wine.stop PROPERTIES ENVIRONMENT "WINEPREFIX=${MODWELD_WINEPREFIX}")
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
