# Installs the library into a fresh prefix and builds and runs an outside
# project against it, found with find_package(brackwater_dat CONFIG) and with
# pkg-config.
include("${CMAKE_CURRENT_LIST_DIR}/nested_build.cmake")

set(root "${WORK_DIR}/install_consumer")
file(REMOVE_RECURSE "${root}")
run_or_fail("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${root}/prefix")
build_and_run_consumers("${root}/prefix" "${root}")
