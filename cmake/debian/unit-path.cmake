# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack on the staged files before it packs them: each user unit starts its bridge where
# the package puts it, whatever prefix the build was configured with.
foreach(unit_path ${CPACK_PALVO_USER_UNITS})
  get_filename_component(program "${unit_path}" NAME_WE)
  set(bridge "${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_PALVO_BINDIR}/${program}")
  set(unit "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${unit_path}")
  if(NOT EXISTS "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${bridge}" OR NOT EXISTS "${unit}")
    message(FATAL_ERROR "the package holds no ${bridge} or no ${unit_path}")
  endif()
  file(READ "${unit}" text)
  string(REGEX REPLACE "ExecStart=[^\n ]*/${program}" "ExecStart=${bridge}" text "${text}")
  file(WRITE "${unit}" "${text}")
endforeach()
