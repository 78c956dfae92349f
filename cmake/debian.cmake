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
Also carries palvo2-sim, a stand-in host for trying the panel without a radio,\n\
and palvo2-fldigi, a bridge that lets the panel drive fldigi over XML-RPC.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Found at run time, not by the linker: the X11 platform plugin and a session bus.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-user-session | dbus-x11")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fldigi")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
