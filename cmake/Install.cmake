# Installed layout: the program in bin/, its skins and help in share/vellox-player/
# (where ResourceDir() in app/Settings looks), a menu entry and the icon in the hicolor theme.
set(VX_SHARE_DIR share/vellox-player)

install(TARGETS vxPlayer RUNTIME DESTINATION bin)
# What vxPlayer --headless becomes: see ExecHeadlessProgram in main.cpp.
install(TARGETS vxPlayer_headless RUNTIME DESTINATION lib/vellox-player)
# The tag scanner process, found beside the headless program.
install(TARGETS vxTagScan RUNTIME DESTINATION lib/vellox-player)
install(DIRECTORY resources/skin DESTINATION ${VX_SHARE_DIR})
install(FILES resources/vxPlayer.html DESTINATION ${VX_SHARE_DIR})
install(FILES resources/vxPlayer.desktop DESTINATION share/applications)
configure_file(resources/vxPlayer.1 ${CMAKE_BINARY_DIR}/install/vxPlayer.1 @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/vxPlayer.1 DESTINATION share/man/man1)
# The speaker without a screen as a systemd user unit; it names the program by the path it is
# installed at, known only at install time (a package installs under another prefix).
install(CODE "
  set(VX_PLAYER_PATH \"\${CMAKE_INSTALL_PREFIX}/bin/vxPlayer\")
  configure_file(\"${CMAKE_SOURCE_DIR}/resources/vxplayer-speaker.service\"
                 \"${CMAKE_BINARY_DIR}/install/vxplayer-speaker.service\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/install/vxplayer-speaker.service\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")")
install(FILES resources/icons/vxPlayer.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES resources/icons/vxPlayer-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME vxPlayer.png)
endforeach()

# ./dev.sh package: vellox-player_<version>_amd64.deb, its dependencies read from the
# libraries the program links (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellox-player)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Marvane)
set(CPACK_PACKAGE_CONTACT "Vellox Player developers <developers@vellox-player.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Audio player for the computers of a local network")
set(CPACK_PACKAGE_DESCRIPTION "Every running copy keeps a music library, serves its files to\n\
the other computers of the local network and plays what they send it.\n\
Copies find each other on their own; the play list of each computer can be\n\
driven from any of them.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://vellox-player.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opens the help page and web links with the desktop's handler.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
