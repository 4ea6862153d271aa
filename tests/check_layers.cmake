# The sources include only downward, and never in a loop:
#
#   cmake -D SRC=<dir> -P check_layers.cmake
#
# A room is a file and its header (elf/walk.h and elf/walk.cpp are the room elf/walk). Layers,
# lowest first: a room may include the rooms of its own layer and of lower ones, but in a layer
# marked "apart:" no room includes another. Every file under SRC must be in a layer, so a new
# file is placed on purpose.
cmake_minimum_required(VERSION 3.25)

set(layers
  "platform/"
  "symtab/"
  "elf/image_bytes elf/elf32 elf/budgets elf/stage_result" # records and bytes
  "elf/build_attributes elf/misplaced_sections elf/walk elf/slot_checks elf/read_ahead elf/swapped_inputs" # checks
  "apart: elf/link_symbols elf/relocate" # the stages
  "cli/")

# The layer of a room, from 0, or -1; `apart` true in a layer marked so.
function(layer_of room result apart)
  set(rank 0)
  foreach(layer IN LISTS layers)
    string(REGEX REPLACE "^apart: " "" members "${layer}")
    string(REPLACE " " ";" members "${members}")
    foreach(member IN LISTS members)
      if(room STREQUAL member OR (member MATCHES "/$" AND room MATCHES "^${member}"))
        set(${result} ${rank} PARENT_SCOPE)
        string(REGEX MATCH "^apart: " marked "${layer}")
        set(${apart} "${marked}" PARENT_SCOPE)
        return()
      endif()
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  set(${result} -1 PARENT_SCOPE)
endfunction()

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
if(NOT sources)
  message(FATAL_ERROR "no sources under ${SRC}")
endif()
set(problems)
set(rooms)
foreach(file IN LISTS sources)
  string(REGEX REPLACE "\\.(h|cpp)$" "" room "${file}")
  list(APPEND rooms "${room}")
  layer_of("${room}" rank apart)
  if(rank LESS 0)
    list(APPEND problems "${file}: in no layer (add it to tests/check_layers.cmake)")
  endif()
  file(STRINGS "${SRC}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\\.(h|cpp)\".*" "\\1" target "${line}")
    if(target STREQUAL room)
      continue()
    endif()
    list(APPEND edges_${room} "${target}")
    layer_of("${target}" target_rank target_apart)
    if(rank GREATER_EQUAL 0 AND target_rank GREATER rank)
      list(APPEND problems "${file} includes ${target}, a layer above it")
    elseif(apart AND target_rank EQUAL rank)
      list(APPEND problems "${file} includes ${target}, a room of its own layer, whose rooms stay apart")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES rooms)

# Loops: a depth-first walk from every room; a room met again while still on the path closes one.
function(visit room path)
  if(room IN_LIST path)
    list(FIND path "${room}" at)
    list(SUBLIST path ${at} -1 loop)
    list(APPEND loop "${room}")
    list(JOIN loop " -> " text)
    set(found_loop "${text}" PARENT_SCOPE)
    return()
  endif()
  get_property(done GLOBAL PROPERTY layers_done_${room})
  if(done)
    return()
  endif()
  list(APPEND path "${room}")
  foreach(next IN LISTS edges_${room})
    visit("${next}" "${path}")
    if(found_loop)
      set(found_loop "${found_loop}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set_property(GLOBAL PROPERTY layers_done_${room} TRUE)
endfunction()
foreach(room IN LISTS rooms)
  set(found_loop)
  visit("${room}" "")
  if(found_loop)
    list(APPEND problems "include loop between rooms: ${found_loop}")
    break()
  endif()
endforeach()

if(problems)
  list(JOIN problems "\n" text)
  message(FATAL_ERROR "${text}")
endif()
list(LENGTH rooms count)
message("${count} rooms, every include downward, no loop")
