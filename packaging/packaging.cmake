# Desktop integration (menu entry, icons, AppStream metadata, manual page) and the Debian package.
# The program's own install rules put bin/qingyou and lib/qingyou/*.dll in place.

set(QINGYOU_APP_ID cn.qingyou.trainer)
set(QINGYOU_PACKAGE_MAINTAINER "Qingyou maintainers <maintainers@qingyou.example>"
  CACHE STRING "Maintainer of the Debian package: name <address>")
set(packaging_source ${CMAKE_CURRENT_LIST_DIR})
set(packaging_build ${PROJECT_BINARY_DIR}/packaging)

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GZIP_PROGRAM gzip REQUIRED)

# ---- Icons: the drawing the window uses, rendered at the theme's usual sizes -------------------

set(icon_drawing ${PROJECT_SOURCE_DIR}/data/icons/qingyou.svg)
set(desktop_outputs)
foreach(size 16 24 32 48 64 128 256)
  set(folder ${packaging_build}/icons/hicolor/${size}x${size}/apps)
  add_custom_command(OUTPUT ${folder}/qingyou.png
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${folder}/qingyou.png ${icon_drawing}
    DEPENDS ${icon_drawing}
    COMMENT "Rendering the menu icon at ${size} pixels"
    VERBATIM)
  list(APPEND desktop_outputs ${folder}/qingyou.png)
endforeach()

# ---- Changelog and manual page, compressed the way Debian wants them ---------------------------

foreach(document changelog qingyou.6)
  add_custom_command(OUTPUT ${packaging_build}/${document}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${packaging_source}/${document} ${packaging_build}/${document}
    # -n leaves out name and time, so the same source gives the same bytes.
    COMMAND ${GZIP_PROGRAM} -9nf ${packaging_build}/${document}
    DEPENDS ${packaging_source}/${document}
    VERBATIM)
  list(APPEND desktop_outputs ${packaging_build}/${document}.gz)
endforeach()

add_custom_target(qy_desktop_files ALL DEPENDS ${desktop_outputs})

install(FILES ${packaging_source}/${QINGYOU_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_source}/${QINGYOU_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${packaging_build}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${icon_drawing} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging_build}/qingyou.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${packaging_source}/copyright ${packaging_build}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- The Debian package: cpack -G DEB in the build folder, or the package target ---------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qingyou)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QINGYOU_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web game window with a game-value editor")
# Lines of at most 80 characters, as Debian's package tools show them.
set(CPACK_PACKAGE_DESCRIPTION "Qingyou shows a web game in a fixed window, with tab pages of game values
below it and buttons to reload the game and to clear the cache. At every start
it asks its update server whether this release may still be used, and sends
the user to the download page when it may not.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QINGYOU_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds GTK, WebKitGTK and libcurl in the binaries; the opener and the fonts are used unlinked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Games live in /usr/games on Debian; a plain cmake --install keeps bin/.
set(CPACK_PRE_BUILD_SCRIPTS ${packaging_source}/games_layout.cmake)
set(QINGYOU_PACKAGE_PROGRAM_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/games)
# Our own postinst also keeps CPack from adding an ldconfig call for the private libraries.
foreach(script postinst postrm)
  configure_file(${packaging_source}/engine_cleanup.sh.in ${packaging_build}/control/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_build}/control/${script})
endforeach()
# The source package target would otherwise sweep up every build folder.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/out/" "__pycache__")
include(CPack)
