# The layer check (cmake/check_layer_includes.cmake) on a small tree of its
# own: every way of naming a header of a higher layer is refused, and what a
# layer may include passes.
#   cmake -DCHECK=<check script> -DWORK=<scratch folder> -P layer_check_test.cmake
cmake_minimum_required(VERSION 3.22)

file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/ui/view.h "")
file(WRITE ${WORK}/base/text.h "")
file(WRITE ${WORK}/volume/own.h "")

# Runs the check of volume/ (which may use base/) on one file's text; sets
# refused and output.
function(check_text text)
  file(WRITE ${WORK}/volume/file.cpp "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -DFOLDER=volume "-DALLOWED=volume|base"
                          -DSTAMP=${WORK}/stamp -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(result EQUAL 0)
    set(refused FALSE PARENT_SCOPE)
  else()
    set(refused TRUE PARENT_SCOPE)
  endif()
  set(output "${out}${err}" PARENT_SCOPE)
endfunction()

set(failures "")
foreach(upward "#include \"ui/view.h\"" "#include <ui/view.h>" "#include \"../ui/view.h\""
               "  #  include \"ui/view.h\"" "#include VIEW_HEADER")
  check_text("${upward}\n")
  if(NOT refused)
    string(APPEND failures "not refused: ${upward}\n")
  elseif(NOT output MATCHES "volume/file.cpp")
    string(APPEND failures "refused without naming the file: ${upward}\n${output}\n")
  endif()
endforeach()
check_text("#include \"base/text.h\"\n#include <base/text.h>\n#include \"own.h\"\n#include <vector>\n#include \"volume/own.h\"\n")
if(refused)
  string(APPEND failures "allowed includes refused:\n${output}\n")
endif()
file(REMOVE_RECURSE ${WORK})
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message("1 passed, 0 failed")
