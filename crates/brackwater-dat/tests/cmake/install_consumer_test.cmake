# Installs the library into a fresh prefix and builds and runs an outside
# project that finds it with find_package(brackwater_dat CONFIG).
include("${CMAKE_CURRENT_LIST_DIR}/nested_build.cmake")

set(root "${WORK_DIR}/install_consumer")
file(REMOVE_RECURSE "${root}")

run_or_fail("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${root}/prefix")
run_or_fail("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${root}/build" ${nested_configure_args}
            "-DCMAKE_PREFIX_PATH=${root}/prefix")
run_or_fail("${CMAKE_COMMAND}" --build "${root}/build")

execute_process(COMMAND "${root}/build/consumer" RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL "brackwater_dat ${EXPECTED_VERSION}\n")
  message(FATAL_ERROR "consumer exited ${status} and printed '${out}'")
endif()
