# The archive and format libraries must stay free of any toolkit: they are used by the
# command-line tool, the fuzzers and the tests without a display. These checks make a
# toolkit dependency a configure error rather than a habit that creeps in.

set_property(GLOBAL PROPERTY TARN_STD_ONLY_TARGETS "")

# The libraries outside the project that the standard-only libraries may link: codecs,
# compression, sound decoding and resampling and a JSON writer, never a toolkit. A new one is
# added here, on purpose, or the
# configure fails.
set(TARN_ALLOWED_EXTERNAL_LIBRARIES
  ZLIB::ZLIB PkgConfig::LIBDEFLATE Threads::Threads PNG::PNG PkgConfig::TURBOJPEG PkgConfig::STB
  PkgConfig::IMAGEQUANT PkgConfig::SNDFILE PkgConfig::SOXR nlohmann_json::nlohmann_json)
# The model reader (Assimp) is linked by tarn_import alone, which only tarn-import links: the
# programs that run it do not load it (and what it brings) each time they start.
set(TARN_MODEL_READER_LIBRARIES PkgConfig::ASSIMP)
# The archive library reads and writes containers: compression only, no picture codec either.
set(TARN_ARCHIVE_EXTERNAL_LIBRARIES ZLIB::ZLIB PkgConfig::LIBDEFLATE Threads::Threads)

# Declares a static library that may use the C++ standard library, the listed standard-only
# siblings (DEPENDS) and the listed codec libraries (EXTERNAL, each one of the allowed ones, or
# of the narrower list ALLOWED gives), and nothing else.
function(tarn_std_only_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;EXTERNAL;ALLOWED" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  set(allowed_anywhere ${TARN_ALLOWED_EXTERNAL_LIBRARIES})
  if(name STREQUAL "tarn_import")
    list(APPEND allowed_anywhere ${TARN_MODEL_READER_LIBRARIES})
  endif()
  set(allowed_external ${allowed_anywhere})
  if(ARG_ALLOWED)
    set(allowed_external ${ARG_ALLOWED})
  endif()
  foreach(e IN LISTS ARG_EXTERNAL)
    if(NOT e IN_LIST allowed_external OR NOT e IN_LIST allowed_anywhere)
      message(FATAL_ERROR "${name} may not link ${e}: only ${allowed_external}")
    endif()
  endforeach()
  if(ARG_DEPENDS OR ARG_EXTERNAL)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} ${ARG_EXTERNAL})
  endif()
  set_property(TARGET ${name} PROPERTY TARN_ALLOWED_LINKS "${ARG_DEPENDS};${ARG_EXTERNAL}")
  set_property(GLOBAL APPEND PROPERTY TARN_STD_ONLY_TARGETS ${name})
endfunction()

function(tarn_check_layering)
  get_property(targets GLOBAL PROPERTY TARN_STD_ONLY_TARGETS)
  get_directory_property(global_includes DIRECTORY ${CMAKE_SOURCE_DIR} INCLUDE_DIRECTORIES)
  get_directory_property(global_links DIRECTORY ${CMAKE_SOURCE_DIR} LINK_LIBRARIES)
  if(global_includes OR global_links)
    message(FATAL_ERROR "Global include directories or link libraries would leak into the standard-only libraries")
  endif()
  foreach(t IN LISTS targets)
    get_target_property(links ${t} LINK_LIBRARIES)
    get_target_property(allowed ${t} TARN_ALLOWED_LINKS)
    if(links)
      foreach(l IN LISTS links)
        if(NOT l IN_LIST allowed)
          message(FATAL_ERROR "${t} may use only the standard library, but links ${l}")
        endif()
      endforeach()
    endif()
    # An allowed codec library must not bring a toolkit with it either.
    get_target_property(allowed ${t} TARN_ALLOWED_LINKS)
    foreach(l IN LISTS allowed)
      if(TARGET ${l})
        get_target_property(deep ${l} INTERFACE_LINK_LIBRARIES)
        if(deep AND deep MATCHES "(Qt[0-9]*::|SDL2|OpenGL::|libGL)")
          message(FATAL_ERROR "${t} links ${l}, which brings a toolkit (${deep})")
        endif()
      endif()
    endforeach()
    get_target_property(incs ${t} INCLUDE_DIRECTORIES)
    foreach(i IN LISTS incs)
      if(NOT i STREQUAL CMAKE_SOURCE_DIR)
        message(FATAL_ERROR "${t} may use only the standard library, but includes ${i}")
      endif()
    endforeach()
    # A source that names a toolkit header fails here, before the compiler would.
    get_target_property(srcs ${t} SOURCES)
    get_target_property(dir ${t} SOURCE_DIR)
    foreach(s IN LISTS srcs)
      if(IS_ABSOLUTE ${s})
        file(READ ${s} text)
      else()
        file(READ ${dir}/${s} text)
      endif()
      string(REGEX MATCH "#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|SDL|GL/)" hit "${text}")
      if(hit)
        message(FATAL_ERROR "${t}: ${s} includes a toolkit header (${hit})")
      endif()
    endforeach()
  endforeach()
endfunction()

# Compiles binary files into a source: tarn::resources::Find("name") gives their bytes.
function(tarn_embed_resources out)
  set(body "// Generated from resources/ at configure time.\n#include <cstdint>\n#include <cstring>\n#include <span>\n\nnamespace tarn::resources {\nnamespace {\n")
  set(table "")
  set(i 0)
  foreach(pair IN LISTS ARGN)
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 name)
    list(GET parts 1 path)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(READ ${path} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const std::uint8_t kData${i}[] = {${bytes}};\n")
    string(APPEND table "  {\"${name}\", kData${i}, sizeof kData${i}},\n")
    math(EXPR i "${i} + 1")
  endforeach()
  string(APPEND body "struct Entry { const char* name; const std::uint8_t* data; std::size_t size; };\nconst Entry kTable[] = {\n${table}};\n}  // namespace\n\n")
  string(APPEND body "std::span<const std::uint8_t> Find(const char* name) {\n  for (const Entry& e : kTable)\n    if (std::strcmp(e.name, name) == 0) return {e.data, e.size};\n  return {};\n}\n\n}  // namespace tarn::resources\n")
  file(WRITE ${out}.tmp "${body}")
  file(COPY_FILE ${out}.tmp ${out} ONLY_IF_DIFFERENT)
endfunction()
