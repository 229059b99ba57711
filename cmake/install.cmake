# What `make install` puts where, and the Debian package built from the same rules.
include(GNUInstallDirs)

# The manual page carries the project's version; man reads it compressed.
set(TESSARA_VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/docs/tessara.1 ${PROJECT_BINARY_DIR}/man/tessara.1 @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/man/tessara.1.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -f -k ${PROJECT_BINARY_DIR}/man/tessara.1
  DEPENDS ${PROJECT_BINARY_DIR}/man/tessara.1
  COMMENT "Compressing the manual page")
add_custom_target(tessara_man ALL DEPENDS ${PROJECT_BINARY_DIR}/man/tessara.1.gz)

# The plug-in sits in a folder of our own under the library folder; the video tool is pointed at
# it (or it is copied into the tool's plug-in folder).
set(TESSARA_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/tessara)

install(TARGETS tessara tessara-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS VDubTessara LIBRARY DESTINATION ${TESSARA_PLUGIN_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/samples/demo.ssa DESTINATION ${CMAKE_INSTALL_DATADIR}/tessara)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessara)
install(FILES ${PROJECT_BINARY_DIR}/man/tessara.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/data/bash-completion/tessara
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# The desktop program in the menus, and as the program that opens SSA scripts (text/x-ssa).
install(FILES ${PROJECT_SOURCE_DIR}/data/desktop/tessara.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/desktop/tessara.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# make package: a Debian package whose dependencies are read off the installed binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessara)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessara developers <tessara@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DVD subpictures and authoring scripts from SSA subtitle scripts")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tessara renders every subtitle of an SSA (Sub Station Alpha V4) script into the\n"
  "four-colour bitmaps a DVD subpicture carries, places them and chooses their colours,\n"
  "and writes the script a DVD authoring tool imports. It also exports text lists,\n"
  "saves the script back with its settings embedded, and feeds a video-filter plug-in\n"
  "(installed under /usr/lib/tessara) so subtitles can be checked over the video.\n"
  "tessara-gui is the desktop program; tessara the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, man-db, bash-completion")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)
