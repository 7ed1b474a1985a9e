# Compiles every library source for wasm32-wasi with exceptions off, as the
# WebAssembly module is built: the library must stay portable beyond POSIX
# and must not rely on catching exceptions.
#   -DCOMPILER=clang++-19 -DSOURCE_DIR=... -DBINARY_DIR=... -DSOURCES=a.cpp;b.cpp
foreach(source IN LISTS SOURCES)
  execute_process(
    COMMAND "${COMPILER}" --target=wasm32-wasi -std=c++23 -fno-exceptions
            -Wall -Wextra -Wpedantic -Werror
            "-I${SOURCE_DIR}/include" "-I${BINARY_DIR}/include" "-I${SOURCE_DIR}/src"
            -fsyntax-only "${SOURCE_DIR}/${source}"
    RESULT_VARIABLE result
    ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${source} does not compile for wasm32-wasi:\n${errors}")
  endif()
endforeach()
list(LENGTH SOURCES count)
message(STATUS "${count} library sources compile for wasm32-wasi without exceptions")
