# Configures the whole project as a consumer would package it: a shared
# library, BUILD_TESTING=OFF and GoogleTest out of reach. It must build the
# library, the tool and the bindings and nothing of the tests, install a
# versioned shared library, and serve both kinds of consumer.
include("${CMAKE_CURRENT_LIST_DIR}/nested_build.cmake")

set(root "${WORK_DIR}/shared_library")
file(REMOVE_RECURSE "${root}")
run_or_fail("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${root}/build" ${nested_configure_args}
            -DBUILD_SHARED_LIBS=ON -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
run_or_fail("${CMAKE_COMMAND}" --build "${root}/build")
foreach(test_program resolve_sound_parity unit_tests stand_in_dotnet)
  if(EXISTS "${root}/build/bin/${test_program}${SUFFIX}")
    message(FATAL_ERROR "BUILD_TESTING=OFF built ${test_program}")
  endif()
endforeach()
run_or_fail("${CMAKE_COMMAND}" --install "${root}/build" --prefix "${root}/prefix")

if(SUFFIX STREQUAL ".exe")
  # A DLL beside the programs, its import library with the static ones.
  set(expected "bin/libbrackwater_dat.dll;lib/libbrackwater_dat.dll.a")
  file(GLOB_RECURSE libraries RELATIVE "${root}/prefix" "${root}/prefix/*brackwater_dat.dll*")
else()
  set(expected "libbrackwater_dat.so;libbrackwater_dat.so.${SOVERSION};libbrackwater_dat.so.${EXPECTED_VERSION}")
  file(GLOB_RECURSE libraries RELATIVE "${root}/prefix" "${root}/prefix/lib*/libbrackwater_dat.so*")
  list(TRANSFORM libraries REPLACE "^.*/" "")
endif()
list(SORT libraries)
if(NOT libraries STREQUAL expected)
  message(FATAL_ERROR "installed '${libraries}', not '${expected}'")
endif()
if(NOT EXISTS "${root}/prefix/bin/brackwater-dat${SUFFIX}")
  message(FATAL_ERROR "the tool was not installed")
endif()
if(SUFFIX STREQUAL ".exe")
  set(PKG_CONFIG_DYNAMIC ON)
endif()
build_and_run_consumers("${root}/prefix" "${root}")
