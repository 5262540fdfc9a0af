# `cpack -G DEB` in a build folder makes tarn_<version>_<arch>.deb from what `cmake --install`
# puts in place. Build it from the release preset: a sanitizer build would make the package
# depend on the sanitizer runtimes.

set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VENDOR "The Tarn developers")
set(CPACK_PACKAGE_CONTACT "The Tarn developers <tarn-bugs@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browse and edit the PAK, PK3 and WAD archives of Quake and Quake II")
# Debian shows the description as it is: lines under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
  "Tarn opens the archives of Quake and Quake II (PAK, the zips today's engines
load as PK3, PK2, ZIP and PKZ, and WAD2 and WAD3 texture files), shows their
directories, and adds, renames, deletes, imports and exports files and
folders. Pictures (PCX, LMP, WAL, WAD textures), sprites, models, text and
sounds are viewed inside the archive, archives are converted from one format
to another, and the textures of Quake maps can be pulled out into a WAD2 file.
Every save writes a complete new archive before it replaces the old one.

The tarn-pak command does the same work from the shell, for scripts and build
systems.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# dpkg-shlibdeps finds the libraries the programs link; Qt's window-system plugins are loaded
# by Qt at run time, so their package is named here, and an OpenGL driver for the viewers.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri")

# What Debian asks of every package's documentation folder: the licence in its copyright
# format and a changelog, both made from the version above.
execute_process(COMMAND date -u -R -d "${TARN_RELEASE_DATE}"
  OUTPUT_VARIABLE TARN_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
string(SUBSTRING "${TARN_RELEASE_DATE}" 0 4 TARN_RELEASE_YEAR)
set(debian_out ${CMAKE_BINARY_DIR}/debian)
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/copyright.in ${debian_out}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog.in ${debian_out}/changelog @ONLY)
add_custom_command(OUTPUT ${debian_out}/changelog.gz
  COMMAND ${TARN_GZIP} -9 -n -f -k ${debian_out}/changelog
  DEPENDS ${debian_out}/changelog
  VERBATIM)
add_custom_target(tarn_debian_docs ALL DEPENDS ${debian_out}/changelog.gz)
install(FILES ${debian_out}/copyright ${debian_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
