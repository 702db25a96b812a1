# The library as one WebAssembly module, from the same sources. It imports
# nothing and exports the eight functions, its memory and __heap_base, where
# the memory free for the caller's buffers starts. The memory is one fixed
# 64 KiB page: an 8 KiB stack (the core needs a few hundred bytes), the
# parser's state, then the caller's scratch space.

# Debian's wasm32 C library and C++ headers; clang and wasm-ld are in the
# base image.
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
  message(FATAL_ERROR "The wasm preset needs Debian's ${zelkolink_wasm_missing} "
    "(tests/install_dependencies.sh installs it)")
endif()

set(zelkolink_wasm_exports
  request_upload_port_data stop_upload_port_data parse_port_data
  parse_hid_game_controller_device parse_hid_compatible_device
  convert_std_sbus_data encode_sbus_data_v1 encode_sbus_data_v2 __heap_base)
list(TRANSFORM zelkolink_wasm_exports PREPEND "-Wl,--export=")

add_executable(ZelkoLink
  port_link.cpp
  hid_reports.cpp
  sbus_output.cpp
  exports.cpp)
target_include_directories(ZelkoLink PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(ZelkoLink PRIVATE ZELKOLINK_BUILDING)
target_link_libraries(ZelkoLink PRIVATE zelkolink_dev_flags)
# SIMD128 and bulk memory (Node.js 16.4, Chrome 91, Firefox 89, Safari 16.4
# on) turn the core's fixed-size copies into 16-byte moves and memory.copy,
# and give memchr its vector loop (bench/js_port_bench.mjs measures the
# result); the module comes out smaller than a scalar -Os build, too.
set(zelkolink_wasm_flags -O2 -msimd128 -mbulk-memory)
target_sources(ZelkoLink PRIVATE wasm_memchr.cpp)
target_compile_options(ZelkoLink PRIVATE -fno-exceptions -fno-rtti -flto ${zelkolink_wasm_flags})
set_target_properties(ZelkoLink PROPERTIES
  OUTPUT_NAME zelkolink
  SUFFIX .wasm
  CXX_VISIBILITY_PRESET hidden
  LINKER_LANGUAGE C)
# No start files and no entry point: a library module, not a WASI command.
# wasi-libc supplies what the core calls beyond memchr; --strip-all drops
# names and custom sections.
target_link_options(ZelkoLink PRIVATE
  -flto ${zelkolink_wasm_flags} -nostartfiles -Wl,--no-entry ${zelkolink_wasm_exports}
  -Wl,-z,stack-size=8192 -Wl,--initial-memory=65536 -Wl,--max-memory=65536
  -Wl,--strip-all)
