# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a file compressed with gzip -9n, as Debian wants manual pages and changelogs; a
# source ending in ".in" has its @VARIABLES@ filled in first.
function(palvo_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE "\\.in$" "" plain ${name})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${plain})
  if(plain STREQUAL name)
    configure_file(${source} ${out} COPYONLY)
  else()
    configure_file(${source} ${out} @ONLY)
  endif()
  add_custom_command(OUTPUT ${out}.gz COMMAND gzip -9nfk ${plain} DEPENDS ${out}
                     WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_target(gzip-${plain} ALL DEPENDS ${out}.gz)
  install(FILES ${out}.gz DESTINATION ${destination})
endfunction()
