# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack on the staged files before it packs them: the compiler's .comment and .note
# sections go, as dh_strip takes them out.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program ${programs})
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
