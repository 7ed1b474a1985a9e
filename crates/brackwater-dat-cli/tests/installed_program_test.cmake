# Installs the build into a fresh prefix and runs the installed program.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix"
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "install failed (${status}): ${err}")
endif()

# -DEMULATOR runs a cross-built program (Wine), -DSUFFIX is .exe on Windows.
set(program ${EMULATOR} "${WORK_DIR}/prefix/bin/brackwater-dat${SUFFIX}")
execute_process(COMMAND ${program} --version RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL "brackwater-dat ${EXPECTED_VERSION}\n")
  message(FATAL_ERROR "${program} --version exited ${status} and printed '${out}'")
endif()

execute_process(COMMAND ${program} info "${WORK_DIR}/missing.dat"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 2 OR NOT out STREQUAL "" OR NOT err MATCHES "^brackwater-dat: error: cannot open ")
  message(FATAL_ERROR "${program} info of a missing archive exited ${status}: '${out}' '${err}'")
endif()

execute_process(COMMAND ${program} resolve "${RETAIL_ARCHIVE}" 0x20000001 0x58 0x5B 0x46
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out STREQUAL "0x58 0x0A000262\n0x5B 0x0A000274\n0x46 none\n")
  message(FATAL_ERROR "${program} resolve exited ${status}: '${out}' '${err}'")
endif()

# man finds the page under the prefix the program is in, as it does for a
# directory on PATH.
find_program(MAN man)
if(MAN)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PATH=${WORK_DIR}/prefix/bin:/usr/bin:/bin"
                          --unset=MANPATH "${MAN}" -w brackwater-dat
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "${WORK_DIR}/prefix/share/man/man1/brackwater-dat.1\n")
    message(FATAL_ERROR "man -w brackwater-dat exited ${status}: '${out}' '${err}'")
  endif()
endif()
if(NOT EXISTS "${WORK_DIR}/prefix/share/bash-completion/completions/brackwater-dat")
  message(FATAL_ERROR "the bash completion is not installed")
endif()
