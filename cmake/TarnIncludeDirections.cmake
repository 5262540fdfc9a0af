# The folders depend on each other one way only:
#   app -> browser -> viewers -> shell -> game -> formats -> archive, cli -> game -> formats
#   -> archive, and import -> formats -> archive. Nothing includes import/: the window and
#   cli/ reach it only by running tarn-import (formats/ModelReader.h), so that only that program
#   links Assimp.
# A source may include headers of its own folder and of the folders below it, never of one
# above it or beside it. Run as a script (cmake -DTARN_SOURCE_DIR=... -P this file), it checks
# every source and fails, listing each include that points the wrong way; the configure step
# and a test both run it.
cmake_policy(SET CMP0057 NEW)

set(TARN_FOLDER_MAY_INCLUDE_archive archive)
set(TARN_FOLDER_MAY_INCLUDE_formats formats archive)
set(TARN_FOLDER_MAY_INCLUDE_game game formats archive)
set(TARN_FOLDER_MAY_INCLUDE_cli cli game formats archive)
set(TARN_FOLDER_MAY_INCLUDE_import import formats archive)
set(TARN_FOLDER_MAY_INCLUDE_shell shell game formats archive)
set(TARN_FOLDER_MAY_INCLUDE_viewers viewers shell game formats archive)
set(TARN_FOLDER_MAY_INCLUDE_browser browser viewers shell game formats archive)
set(TARN_FOLDER_MAY_INCLUDE_app app browser viewers shell game formats archive)
set(TARN_LAYERED_FOLDERS archive formats game import cli shell viewers browser app)

function(tarn_check_include_directions source_dir)
  set(problems "")
  foreach(folder IN LISTS TARN_LAYERED_FOLDERS)
    file(GLOB_RECURSE sources ${source_dir}/${folder}/*.h ${source_dir}/${folder}/*.cpp)
    foreach(s IN LISTS sources)
      file(STRINGS ${s} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z]+)/.*" "\\1" target "${line}")
        if(target IN_LIST TARN_LAYERED_FOLDERS AND NOT target IN_LIST TARN_FOLDER_MAY_INCLUDE_${folder})
          file(RELATIVE_PATH rel ${source_dir} ${s})
          string(APPEND problems "\n  ${rel}: ${line} (${folder}/ may include only ${TARN_FOLDER_MAY_INCLUDE_${folder}})")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR "Includes against the direction of the layers:${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND TARN_SOURCE_DIR)
  tarn_check_include_directions(${TARN_SOURCE_DIR})
endif()
