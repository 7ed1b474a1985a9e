# Builds resolve_sound_parity around a client text whose resolve_sound_first
# breaks the rule, and checks that the program reports it.
include("${CMAKE_CURRENT_LIST_DIR}/nested_build.cmake")

set(build "${WORK_DIR}/client_source_nonconforming")
file(REMOVE_RECURSE "${build}")

run_or_fail("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${build}" ${nested_configure_args}
            -DBRACKWATER_PYTHON=OFF "-DBRACKWATER_CLIENT_SOURCE=${CLIENT_SOURCE}")
run_or_fail("${CMAKE_COMMAND}" --build "${build}" --target resolve_sound_parity)

execute_process(COMMAND "${build}/bin/resolve_sound_parity" --exact
                        js_resolve_sound_first_body_matches_rust
                RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 101)
  message(FATAL_ERROR "expected exit status 101, got ${status}:\n${out}")
endif()

# The fixture's definition lies in its last 600 bytes, so the reported body
# runs from the definition to the end of the text.
file(READ "${SOURCE_DIR}/${CLIENT_SOURCE}" text)
string(FIND "${text}" "pub fn resolve_sound_first" start)
if(start EQUAL -1)
  message(FATAL_ERROR "the fixture no longer defines resolve_sound_first")
endif()
string(SUBSTRING "${text}" ${start} -1 body)
string(LENGTH "${body}" body_length)
if(body_length GREATER_EQUAL 600)
  message(FATAL_ERROR "the fixture no longer fits this test")
endif()

foreach(expected
    "test js_resolve_sound_first_body_matches_rust ... FAILED\n"
    "\nresolveSoundFirst must call `.first()` — body:\n${body}\n\n\nfailures:\n    js_resolve_sound_first_body_matches_rust\n"
    "\ntest result: FAILED. 0 passed; 1 failed; 0 ignored; 0 measured; ")
  string(FIND "${out}" "${expected}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "report lacks:\n${expected}\n--- report:\n${out}")
  endif()
endforeach()
