# cmake -D GROFF=... -D PAGE=... -P lint_man_page.cmake
# The page must format with every groff warning enabled and not one printed.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${GROFF} -man -ww -z ${PAGE}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT out STREQUAL "")
  message(FATAL_ERROR "groff -man -ww -z ${PAGE}: status ${status}\n${out}${err}")
endif()
