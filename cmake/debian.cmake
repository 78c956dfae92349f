# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package of the panel and both host programs: cpack -G DEB.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME palvo-panel)
set(CPACK_PACKAGE_VENDOR "palvo-panel developers")
set(CPACK_PACKAGE_CONTACT "palvo-panel developers <team@palvo.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for a digital-modes radio program")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "A small window that attaches to a running digital-modes program over D-Bus,\n\
shows its audio frequency, rig frequency and mode twice a second, and sends it\n\
macro commands at the press of a button.\n\
.\n\
Also carries palvo2-fldigi and palvo2-wsjtx, bridges that let the panel\n\
drive fldigi over XML-RPC and WSJT-X over its UDP messages (each with a\n\
systemd user service to run it in every session), and palvo2-sim, a\n\
stand-in host for trying the panel without a radio.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Found at run time, not by the linker: the X11 platform plugin and a session bus.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-user-session | dbus-x11")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fldigi, wsjtx")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# What Debian's own packaging takes out of the programs besides the symbols; the user
# units pointed at the bridges under the package's prefix, not the build's.
set(CPACK_PALVO_BINDIR ${CMAKE_INSTALL_BINDIR})
get_property(CPACK_PALVO_USER_UNITS GLOBAL PROPERTY PALVO_USER_UNITS)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/strip-notes.cmake
                            ${CMAKE_CURRENT_LIST_DIR}/debian/unit-path.cmake)
include(CPack)

# The licence in Debian's machine-readable form, and the changelog of a native package.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
palvo_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${CMAKE_INSTALL_DOCDIR})
