# Run by CPack on the staged files: Debian wants the program of a package in section games in
# /usr/games. The libraries stay in /usr/lib/qingyou, which $ORIGIN/../lib/qingyou still reaches.
set(stage ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
if(NOT EXISTS ${stage}/bin/qingyou)
  message(FATAL_ERROR "The staged package holds no ${stage}/bin/qingyou")
endif()
file(MAKE_DIRECTORY ${stage}/games)
file(RENAME ${stage}/bin/qingyou ${stage}/games/qingyou)
file(GLOB others ${stage}/bin/*)
if(NOT others)
  file(REMOVE_RECURSE ${stage}/bin)
endif()
