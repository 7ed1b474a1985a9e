# Installs the build into a fresh prefix and imports the module from there.
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env "PYTHONPATH=${WORK_DIR}/${MODULE_DIR}"
          "${PYTHON}" -c "import brackwater_dat as bw, sys; db = bw.DatDatabase.open(sys.argv[1]); print(bw.__file__); print(db.entry(0x20000001).compressed, bw.SoundTable.unpack(db.get_file(0x20000001)).resolve_sound(0x58) == 0x0A000262)"
          "${ARCHIVE}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT output MATCHES "^${WORK_DIR}/.*\nTrue True\n$")
  message(FATAL_ERROR "the installed module did not answer: ${output}${errors}")
endif()
