# Cross-compiles for WebAssembly (wasm32-wasi) with Debian's clang-19 and its
# wasi-libc and libc++ packages, exceptions off.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(BRACKWATER_WASM ON)

set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# Bulk memory turns every copy and fill into one memory.copy or memory.fill,
# where wasi-libc's memcpy copies a word at a time; every runtime the module
# targets (browsers since 2020, node since 12.5) has it.
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -mbulk-memory")

# Try-compiles link no program of their own.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
