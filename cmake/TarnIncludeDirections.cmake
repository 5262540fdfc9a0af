# The folders depend on each other one way only. From the bottom:
#   fileio (safe file I/O, byte and name helpers)
#   archive (the entry tree, and the interface through which entries read their archive)
#   containers (PAK, zip and WAD) -> archive
#   document (an archive opened from disk, its inner archives, its undo stack) -> containers
#   pictures, sounds; models -> pictures; maps -> models, pictures
#   formats (describes any entry) -> the four domains
#   game -> formats; cli -> game; import -> models (nothing includes import/: the window and
#     cli/ reach it only by running tarn-import (models/ModelReader.h), so that only that
#     program links Assimp)
#   app -> browser -> viewers -> dialogs -> game
# A source may include headers of its own folder and of the folders below it, never of one
# above it or beside it. Run as a script (cmake -DTARN_SOURCE_DIR=... -P this file), it checks
# every source and fails, listing each include that points the wrong way; the configure step
# and a test both run it.
cmake_policy(SET CMP0057 NEW)

set(TARN_LIBRARY_FOLDERS fileio archive containers document)
set(TARN_FOLDER_MAY_INCLUDE_fileio fileio)
set(TARN_FOLDER_MAY_INCLUDE_archive archive fileio)
set(TARN_FOLDER_MAY_INCLUDE_containers containers archive fileio)
set(TARN_FOLDER_MAY_INCLUDE_document document containers archive fileio)
set(TARN_FOLDER_MAY_INCLUDE_pictures pictures ${TARN_LIBRARY_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_sounds sounds ${TARN_LIBRARY_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_models models pictures ${TARN_LIBRARY_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_maps maps models pictures ${TARN_LIBRARY_FOLDERS})
set(TARN_DOMAIN_FOLDERS formats maps models pictures sounds ${TARN_LIBRARY_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_formats ${TARN_DOMAIN_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_game game ${TARN_DOMAIN_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_cli cli game ${TARN_DOMAIN_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_import import models pictures ${TARN_LIBRARY_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_dialogs dialogs game ${TARN_DOMAIN_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_viewers viewers dialogs game ${TARN_DOMAIN_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_browser browser viewers dialogs game ${TARN_DOMAIN_FOLDERS})
set(TARN_FOLDER_MAY_INCLUDE_app app browser viewers dialogs game ${TARN_DOMAIN_FOLDERS})
set(TARN_LAYERED_FOLDERS fileio archive containers document pictures sounds models maps formats game import cli dialogs viewers
                         browser app)

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
