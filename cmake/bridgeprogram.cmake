# SPDX-License-Identifier: GPL-3.0-or-later
# A bridge program built from its backend library, installed with its manual page and its user
# service; the service is listed in the global property PALVO_USER_UNITS for the package.
function(palvo_bridge_program name backend)
  add_executable(${name} main.cpp)
  target_link_libraries(${name} PRIVATE ${backend})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  palvo_install_gzipped(${name}.1.in ${CMAKE_INSTALL_MANDIR}/man1)
  configure_file(${name}.service.in ${name}.service @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.service DESTINATION lib/systemd/user)
  set_property(GLOBAL APPEND PROPERTY PALVO_USER_UNITS lib/systemd/user/${name}.service)
endfunction()
