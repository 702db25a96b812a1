# WebAssembly (wasm32) with Debian's clang and wasm-ld: the C headers and
# memchr/memmove from wasi-libc, the C++ headers from libc++'s wasm32 build.
# The module imports nothing, so no WASI runtime is involved.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# A module is linked like an executable; the compiler check cannot run one.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(zelkolink_wasm_needs
  "/usr/lib/wasm32-wasi/libc.a|wasi-libc"
  "/usr/lib/llvm-14/include/wasm32-wasi/c++/v1/algorithm|libc++-14-dev-wasm32")
set(zelkolink_wasm_missing "")
foreach(need IN LISTS zelkolink_wasm_needs)
  string(REPLACE "|" ";" need "${need}")
  list(GET need 0 file)
  list(GET need 1 package)
  if(NOT EXISTS ${file})
    list(APPEND zelkolink_wasm_missing ${package})
  endif()
endforeach()
if(zelkolink_wasm_missing)
  list(JOIN zelkolink_wasm_missing " " zelkolink_wasm_missing)
  message(FATAL_ERROR "The wasm preset needs Debian's ${zelkolink_wasm_missing}: "
    "run tests/install_dependencies.sh as root (apt-get install ${zelkolink_wasm_missing}).")
endif()
