# WebAssembly (wasm32) with Debian's clang and wasm-ld: the C headers and
# the few C library routines the core calls from wasi-libc, the C++ headers
# from libc++'s wasm32 build.
# The module imports nothing, so no WASI runtime is involved.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# A module is linked like an executable; the compiler check cannot run one.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
