# find_package(SRecTools): recstamp and hexarray as the imported executables SRecTools::recstamp
# and SRecTools::hexarray, and the functions srectools_stamp() and srectools_embed().
include(${CMAKE_CURRENT_LIST_DIR}/SRecToolsTargets.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SRecToolsFunctions.cmake)
