# Package test: installs modweld from the build tree, configures and builds a small module
# project that finds the installed package, checks the module image, then links a new
# target system image and checks that the next build re-welds the module.
#
# cmake -DMODWELD_BUILD_DIR=... -DWORK_DIR=... -DGENERATOR=... [-DCONFIG=...] -P run.cmake
cmake_minimum_required(VERSION 3.25)

set(here "${CMAKE_CURRENT_LIST_DIR}")

function(skip reason)
  message("modweld package test skipped: ${reason}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}")
  endif()
endfunction()

function(read_hex file variable)
  file(READ "${file}" content HEX)
  set(${variable} "${content}" PARENT_SCOPE)
endfunction()

# Links the tiny target system with its code at `base`, so each version gives its
# functions other addresses. Bases stay above ld.lld's image base (0x10000), below which
# ld.lld 19 and 22 refuse to place code.
function(link_target base)
  run("${lld}" -Ttext=${base} -e _start "${WORK_DIR}/target.o" -o "${WORK_DIR}/target.elf")
endfunction()

# The module image must be exactly what the installed tool makes of the module and the
# current link file, and carry the module magic.
function(check_image label)
  set(image "${WORK_DIR}/build/images/demo.mo")
  if(NOT EXISTS "${image}")
    message(FATAL_ERROR "${label}: ${image} was not written")
  endif()
  file(GLOB module "${WORK_DIR}/build/*demo_module*")
  run("${WORK_DIR}/prefix/bin/modweld" -l "${WORK_DIR}/target.elf" -o "${WORK_DIR}/expected.mo" "${module}")
  read_hex("${image}" actual)
  read_hex("${WORK_DIR}/expected.mo" expected)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${label}: ${image} is not the module welded against the current link file")
  endif()
  string(SUBSTRING "${actual}" 0 8 magic)
  if(NOT magic STREQUAL "7f4f564b")
    message(FATAL_ERROR "${label}: module image starts with ${magic}")
  endif()
  set(image_hex "${actual}" PARENT_SCOPE)
endfunction()

find_program(clang NAMES clang clang-14)
find_program(lld NAMES ld.lld ld.lld-14)
if(NOT clang OR NOT lld)
  skip("needs clang and ld.lld (or ld.lld-14) to build an ARM module; found clang='${clang}' ld.lld='${lld}'")
  return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND "${clang}" --target=armv7a-none-eabi -ffreestanding -c "${here}/target.c"
                        -o "${WORK_DIR}/target.o"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  skip("${clang} cannot compile for armv7a-none-eabi:\n${out}")
  return()
endif()

set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()
run("${CMAKE_COMMAND}" --install "${MODWELD_BUILD_DIR}" --prefix "${WORK_DIR}/prefix" ${config_args})

link_target(0x20000)
run("${CMAKE_COMMAND}" -S "${here}/project" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    "-DCMAKE_TOOLCHAIN_FILE=${here}/project/arm-clang.cmake"
    "-DCMAKE_C_COMPILER=${clang}" "-DCMAKE_LINKER=${lld}"
    "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix" "-DLINK_FILE=${WORK_DIR}/target.elf")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
check_image("first build")
set(first "${image_hex}")

# A new target system image, the module untouched: the next build must weld again.
link_target(0x30000)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
check_image("after a new link file")
if(first STREQUAL image_hex)
  message(FATAL_ERROR "the module image did not change with the link file")
endif()
message("modweld package test passed")
