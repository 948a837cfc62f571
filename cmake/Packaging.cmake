# Installing the desk like other desktop programs (cmake --install) and its Debian
# package (cpack -G DEB). The id names the desktop entry, the AppStream component
# and the icon alike.
include(GNUInstallDirs)

set(TAVORIA_APP_ID org.tavoria.desk)
# The day this version was released, for the AppStream release entry.
set(TAVORIA_RELEASE_DATE 2026-12-10)

install(TARGETS tavoria RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/${TAVORIA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${CMAKE_SOURCE_DIR}/data/${TAVORIA_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/data/${TAVORIA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/${TAVORIA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/${TAVORIA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Rendered from the SVG with: rsvg-convert -w 128 -h 128 org.tavoria.desk.svg
install(FILES ${CMAKE_SOURCE_DIR}/data/${TAVORIA_APP_ID}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavoria)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavoria")
set(CPACK_PACKAGE_CONTACT "Tavoria developers <tavoria@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "playout desk for live events and small broadcasts")
set(CPACK_PACKAGE_DESCRIPTION
    "One window plays a playlist of local files and web addresses in an embedded\n"
    "monitor (also sent out as a UDP stream), keeps lower-third captions and\n"
    "publishes them, with a clock, a countdown and a marquee, as small text files\n"
    "for an overlay tool, and fires jingles and a talking clock on a second sound\n"
    "card. The interface is in Spanish.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links come from dpkg-shlibdeps; libVLC and its plugins
# are opened at run time, which it cannot see: the plugins for files and streams,
# the picture in the window, and the plugin cache that keeps every start fast.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libvlc5 (>= 3.0), libvlccore9, libvlc-bin, vlc-plugin-base, vlc-plugin-video-output, qt6-translations-l10n")
include(CPack)
