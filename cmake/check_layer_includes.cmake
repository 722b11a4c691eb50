# Fails when a file of the layer folder FOLDER includes a header of this
# repository (root ROOT) that lies in a folder outside ALLOWED (the layer's own
# folder and the layers below it, separated by "|"). Writes STAMP when every
# include is allowed. Run by veld_layer() as part of the build.
#
# A header is found as the compiler finds it: "name" first beside the file
# (so "../ui/x.h" and "sub/x.h" are followed), then, like <name>, from the
# repository root; headers that resolve outside the repository (the system's,
# Qt's) are none of the layers'. An include through a macro cannot be
# followed and is refused.
cmake_minimum_required(VERSION 3.22)

string(REPLACE "|" ";" allowed "${ALLOWED}")
file(GLOB files ${ROOT}/${FOLDER}/*.cpp ${ROOT}/${FOLDER}/*.h)
set(errors "")
foreach(file ${files})
  file(RELATIVE_PATH name ${ROOT} ${file})
  get_filename_component(file_dir ${file} DIRECTORY)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*" "" what "${line}")
    set(candidates "")
    if(what MATCHES "^\"([^\"]+)\"")
      set(header ${CMAKE_MATCH_1})
      list(APPEND candidates ${file_dir}/${header} ${ROOT}/${header})
    elseif(what MATCHES "^<([^>]+)>")
      set(header ${CMAKE_MATCH_1})
      list(APPEND candidates ${ROOT}/${header})
    else()
      string(APPEND errors "  ${name}: #include ${what} names its header through a macro, which the layer check cannot follow\n")
      continue()
    endif()
    foreach(candidate ${candidates})
      get_filename_component(resolved ${candidate} ABSOLUTE)
      if(NOT EXISTS ${resolved} OR IS_DIRECTORY ${resolved})
        continue()
      endif()
      file(RELATIVE_PATH relative ${ROOT} ${resolved})
      if(relative MATCHES "^\\.\\./")
        break()  # outside the repository
      endif()
      get_filename_component(header_folder ${relative} DIRECTORY)
      if(NOT header_folder IN_LIST allowed)
        string(APPEND errors "  ${name}: #include ${what} reaches into ${header_folder}/\n")
      endif()
      break()
    endforeach()
  endforeach()
endforeach()
if(errors)
  string(REPLACE ";" ", " allowed_text "${allowed}")
  message(FATAL_ERROR "Upward include: the ${FOLDER}/ layer may only include from ${allowed_text}:\n${errors}")
endif()
file(TOUCH ${STAMP})
