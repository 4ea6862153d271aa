# Package file of an installed modweld: the imported executable modweld::modweld and the
# function modweld_add_module_image().
include("${CMAKE_CURRENT_LIST_DIR}/modweldTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/ModweldModuleImage.cmake")
