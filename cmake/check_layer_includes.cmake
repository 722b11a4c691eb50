# Fails when a file of the layer folder FOLDER includes, by its path from the
# repository root ROOT, a header that lies in a folder outside ALLOWED (the
# layer's own folder and the layers below it, separated by "|"). Writes STAMP
# when every include is allowed. Run by veld_layer() as part of the build.
cmake_minimum_required(VERSION 3.22)

string(REPLACE "|" ";" allowed "${ALLOWED}")
file(GLOB files ${ROOT}/${FOLDER}/*.cpp ${ROOT}/${FOLDER}/*.h)
set(errors "")
foreach(file ${files})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" header "${line}")
    # Only headers of this repository named from its root take part; a
    # header beside the file or a library's header is none of the layers'.
    if(NOT header MATCHES "/" OR NOT EXISTS ${ROOT}/${header})
      continue()
    endif()
    get_filename_component(header_folder ${header} DIRECTORY)
    if(NOT header_folder IN_LIST allowed)
      file(RELATIVE_PATH name ${ROOT} ${file})
      string(APPEND errors "  ${name}: #include \"${header}\" reaches into ${header_folder}/\n")
    endif()
  endforeach()
endforeach()
if(errors)
  string(REPLACE ";" ", " allowed_text "${allowed}")
  message(FATAL_ERROR "Upward include: the ${FOLDER}/ layer may only include from ${allowed_text}:\n${errors}")
endif()
file(TOUCH ${STAMP})
