# The Windows build made on Linux (cmake/mingw-w64-x86_64.cmake): the
# header-only packages and GoogleTest it builds with, and Wine to run what it
# builds, in a prefix of its own inside the build folder.

# CLI11 and nlohmann-json are header-only, so the host's packages serve; a
# folder that holds only them keeps the host's other headers (glibc's) out.
set(host_headers "${PROJECT_BINARY_DIR}/host-headers")
foreach(item include/CLI include/nlohmann share/cmake/CLI11 share/cmake/nlohmann_json)
  if(EXISTS "/usr/${item}" AND NOT EXISTS "${host_headers}/${item}")
    get_filename_component(parent "${host_headers}/${item}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "/usr/${item}" "${host_headers}/${item}" SYMBOLIC)
  endif()
endforeach()
list(APPEND CMAKE_FIND_ROOT_PATH "${host_headers}")

if(NOT BUILD_TESTING)
  return()
endif()

# GoogleTest built from Debian's sources (googletest) with this toolchain.
set(INSTALL_GTEST OFF)
add_subdirectory(/usr/src/googletest "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)

# Tests and the build's own tools run under Wine. The prefix is made before
# anything runs, without questions (no Mono or Gecko to offer).
find_program(BRACKWATER_WINE64 wine64 PATHS /usr/lib/wine REQUIRED)
find_program(BRACKWATER_WINESERVER wineserver PATHS /usr/lib/wine REQUIRED)
set(wine_prefix "${PROJECT_BINARY_DIR}/wine")
set(wine_env "WINEPREFIX=${wine_prefix}" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env ${wine_env} "${BRACKWATER_WINE64}")
add_custom_command(OUTPUT "${wine_prefix}/made"
  COMMAND /usr/bin/env ${wine_env} "${BRACKWATER_WINE64}" wineboot --init
  COMMAND /usr/bin/env ${wine_env} "${BRACKWATER_WINESERVER}" -w
  COMMAND "${CMAKE_COMMAND}" -E touch "${wine_prefix}/made"
  COMMENT "Making the Wine prefix that runs the tests")
add_custom_target(wine_prefix DEPENDS "${wine_prefix}/made")

# One Wine server for the whole test run, stopped at its end.
set(server_command "\"/usr/bin/env\"")
foreach(word IN LISTS wine_env ITEMS /bin/sh "${PROJECT_SOURCE_DIR}/cmake/wine_server.sh")
  string(APPEND server_command " \"${word}\"")
endforeach()
set(server_programs "\"${BRACKWATER_WINESERVER}\" \"${BRACKWATER_WINE64}\"")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/CTestCustom.cmake" CONTENT [[
set(CTEST_CUSTOM_PRE_TEST [==[@server_command@ start @server_programs@]==])
set(CTEST_CUSTOM_POST_TEST [==[@server_command@ stop @server_programs@]==])
]] @ONLY)
