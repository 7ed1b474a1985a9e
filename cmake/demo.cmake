# The main job on the built-in example, for `cmake --workflow --preset demo`:
# resolve_sound_parity runs all three checks for real against the synthetic
# portal archive and the stand-in reference tool, then brackwater-dat shows
# the same archive and answers the six pinned questions. Everything it needs
# and makes is in the build tree.
#   -DPARITY=... -DTOOL=... -DSTAND_IN_DIR=... -DRETAIL_DIR=... -DSOURCE_DIR=...
set(here "${RETAIL_DIR}/good")
# The check looks for the reference tool's file; the stand-in host answers for it.
set(dll "${STAND_IN_DIR}/Landsmith.Terminal.dll")
file(TOUCH "${dll}")

# Shows `shown` as the command line, then runs `program` with `args` in the
# synthetic archive's folder.
function(show shown program)
  message("\n$ ${shown}")
  execute_process(COMMAND "${program}" ${ARGN} WORKING_DIRECTORY "${here}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the demo failed: exit status ${result}")
  endif()
endfunction()

file(RELATIVE_PATH shown_here "${SOURCE_DIR}" "${here}")
message("In ${shown_here}:")
show("resolve_sound_parity --nocapture   # with the synthetic archive and the stand-in tool"
     "${CMAKE_COMMAND}" -E env "AC_BASE_PORTAL_DAT=client_portal.dat"
     "DOTNET_ROOT=${STAND_IN_DIR}" "LS_TERMINAL_DLL=${dll}" "STAND_IN_ANSWERS=answers.txt"
     "${PARITY}" --nocapture)
show("brackwater-dat info client_portal.dat" "${TOOL}" info client_portal.dat)
show("brackwater-dat resolve client_portal.dat 0x20000001 0x58 0x5B 0x46 0xFFFFFFFF"
     "${TOOL}" resolve client_portal.dat 0x20000001 0x58 0x5B 0x46 0xFFFFFFFF)
show("brackwater-dat resolve client_portal.dat 0x200000A8 0x1F 0x46"
     "${TOOL}" resolve client_portal.dat 0x200000A8 0x1F 0x46)
