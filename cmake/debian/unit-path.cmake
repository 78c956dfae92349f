# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack on the staged files before it packs them: the user unit starts the bridge where
# the package puts it, whatever prefix the build was configured with.
set(bridge "${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_PALVO_BINDIR}/palvo2-fldigi")
set(unit "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_PALVO_USER_UNIT}")
if(NOT EXISTS "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${bridge}" OR NOT EXISTS "${unit}")
  message(FATAL_ERROR "the package holds no ${bridge} or no ${CPACK_PALVO_USER_UNIT}")
endif()
file(READ "${unit}" text)
string(REGEX REPLACE "ExecStart=[^\n ]*/palvo2-fldigi" "ExecStart=${bridge}" text "${text}")
file(WRITE "${unit}" "${text}")
