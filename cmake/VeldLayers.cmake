# One static library per layer folder, linked only to the layers below it, and
# a check, run as part of building the library, that none of the folder's
# files includes a header of a layer it may not use.
#
#   veld_layer(TARGET FOLDER [USES folder...] [LIBS library...] [EXCLUDE file...])
#
# FOLDER is the layer's folder below the repository root; USES names the
# folders of the layers directly below it (declared before it), LIBS further
# libraries (Qt, libjpeg). Every .cpp and .h directly in FOLDER belongs to
# the library, so a new file lands in its folder's layer; EXCLUDE leaves out
# files that a program of the folder builds (a main.cpp). A layer may include
# its own headers and those of every layer it uses, directly or through the
# layers below; the check covers every file of the folder.

set(VELD_LAYER_CHECK_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/check_layer_includes.cmake)

function(veld_layer target folder)
  cmake_parse_arguments(LAYER "" "" "USES;LIBS;EXCLUDE" ${ARGN})
  set(root ${PROJECT_SOURCE_DIR})

  file(GLOB all_files CONFIGURE_DEPENDS ${root}/${folder}/*.cpp ${root}/${folder}/*.h)
  set(sources ${all_files})
  foreach(excluded ${LAYER_EXCLUDE})
    list(REMOVE_ITEM sources ${root}/${folder}/${excluded})
  endforeach()

  # The folders this layer may include from: its own and every layer below.
  set(allowed ${folder})
  set(link)
  foreach(used ${LAYER_USES})
    get_property(used_target GLOBAL PROPERTY VELD_LAYER_TARGET_${used})
    get_property(used_allowed GLOBAL PROPERTY VELD_LAYER_ALLOWED_${used})
    if(NOT used_target)
      message(FATAL_ERROR "layer ${folder} uses ${used}, which is not declared before it")
    endif()
    list(APPEND link ${used_target})
    list(APPEND allowed ${used_allowed})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set_property(GLOBAL PROPERTY VELD_LAYER_TARGET_${folder} ${target})
  set_property(GLOBAL PROPERTY VELD_LAYER_ALLOWED_${folder} "${allowed}")

  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${link} ${LAYER_LIBS})

  # The include check runs whenever a file of the folder changes; a wrong
  # include stops the build of the library with the file and the header named.
  string(REPLACE ";" "|" allowed_arg "${allowed}")
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.layer_check)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DROOT=${root} -DFOLDER=${folder} -DALLOWED=${allowed_arg}
            -DSTAMP=${stamp} -P ${VELD_LAYER_CHECK_SCRIPT}
    DEPENDS ${all_files} ${VELD_LAYER_CHECK_SCRIPT}
    COMMENT "Checking that ${folder}/ includes only from ${allowed}"
    VERBATIM)
  add_custom_target(${target}_layer_check DEPENDS ${stamp})
  add_dependencies(${target} ${target}_layer_check)
endfunction()
