# modweld_add_module_image(<name> MODULE <target> LINK_FILE <file> OUTPUT <file>)
#
# Adds target <name>, built by default, that welds the linked image of the shared-library
# target MODULE against the target system image LINK_FILE into the module image OUTPUT.
# The weld is a custom command that depends on both inputs and on the tool itself, so a
# new target system image re-welds the module even when the module did not change (a
# POST_BUILD step on the module would miss that). A relative LINK_FILE is taken from the
# current source directory, a relative OUTPUT from the current binary directory.
#
# The module must be linked so that every allocated section's address equals its file
# offset (ld.lld or GNU ld: -shared -z max-page-size=1).

function(modweld_add_module_image name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MODULE;LINK_FILE;OUTPUT" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "modweld_add_module_image: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required IN ITEMS MODULE LINK_FILE OUTPUT)
    if(NOT arg_${required})
      message(FATAL_ERROR "modweld_add_module_image(${name}): ${required} is required")
    endif()
  endforeach()
  if(NOT TARGET modweld::modweld)
    message(FATAL_ERROR "modweld_add_module_image(${name}): modweld::modweld is not defined; "
                        "call find_package(modweld) first")
  endif()

  set(link_file "${arg_LINK_FILE}")
  if(NOT link_file MATCHES "^\\$<")
    cmake_path(ABSOLUTE_PATH link_file BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  endif()
  set(output "${arg_OUTPUT}")
  cmake_path(ABSOLUTE_PATH output BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE)
  cmake_path(GET output PARENT_PATH output_dir)

  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND modweld::modweld -l "${link_file}" -o "${output}" "$<TARGET_FILE:${arg_MODULE}>"
    DEPENDS "${arg_MODULE}" "$<TARGET_FILE:${arg_MODULE}>" "${link_file}" "$<TARGET_FILE:modweld::modweld>"
    COMMENT "Welding module image ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target("${name}" ALL DEPENDS "${output}")
endfunction()
