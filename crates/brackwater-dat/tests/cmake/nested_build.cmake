# Helpers for tests that configure and build a project of their own.

# Runs a command and stops the test with its output when it fails.
function(run_or_fail)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "`${command}` failed (${status}):\n${out}\n${err}")
  endif()
endfunction()

# The options that give a nested configure this build's toolchain and flags.
set(nested_configure_args
  -G Ninja
  "-DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}"
  "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${CMAKE_EXE_LINKER_FLAGS}"
  "-DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}"
)
# A cross build (Windows): its toolchain; -DEMULATOR runs what it builds
# (Wine) and -DSUFFIX names its programs (.exe).
if(CMAKE_TOOLCHAIN_FILE)
  list(APPEND nested_configure_args "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}")
endif()

# Builds the outside consumer against an installed prefix twice, once found
# with find_package and once with pkg-config, runs both and checks that each
# reports the expected version. Shared libraries are found through the
# prefix's library folder.
function(build_and_run_consumers prefix work)
  set(found_in "-DCMAKE_PREFIX_PATH=${prefix}")
  if(CMAKE_TOOLCHAIN_FILE)  # which finds packages under its roots only
    list(APPEND found_in "-DCMAKE_FIND_ROOT_PATH=${prefix}")
  endif()
  run_or_fail("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${work}/cmake" ${nested_configure_args}
              ${found_in})
  run_or_fail("${CMAKE_COMMAND}" --build "${work}/cmake")

  file(GLOB pc_dirs "${prefix}/lib*/pkgconfig" "${prefix}/lib/*/pkgconfig")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${pc_dirs}"
            pkg-config --cflags --libs brackwater_dat_http
    RESULT_VARIABLE status OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know brackwater_dat_http under ${prefix}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  # A program linked -static (MinGW-w64 here) finds a DLL's import library
  # only where static linking is switched off around it.
  if(PKG_CONFIG_DYNAMIC)
    set(flags -Wl,-Bdynamic ${flags} -Wl,-Bstatic)
  endif()
  separate_arguments(cxx_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
  separate_arguments(link_flags UNIX_COMMAND "${CMAKE_EXE_LINKER_FLAGS}")
  run_or_fail("${CMAKE_CXX_COMPILER}" -std=c++23 ${cxx_flags} "${CONSUMER_DIR}/main.cpp" ${flags}
              ${link_flags} -o "${work}/pkg-config-consumer${SUFFIX}")

  file(GLOB lib_dirs "${prefix}/lib*" "${prefix}/lib/*")
  string(REPLACE ";" ":" library_path "${lib_dirs}")
  foreach(consumer "${work}/cmake/consumer${SUFFIX}" "${work}/pkg-config-consumer${SUFFIX}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${library_path}"
                            "WINEPATH=${prefix}/bin" ${EMULATOR} "${consumer}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REPLACE "\r\n" "\n" out "${out}")  # a Windows program's text lines
    if(NOT status EQUAL 0 OR NOT out STREQUAL "brackwater_dat ${EXPECTED_VERSION}\n")
      message(FATAL_ERROR "${consumer} exited ${status} and printed '${out}${err}'")
    endif()
  endforeach()
endfunction()
