# The library as one WebAssembly module, from the same sources. It imports
# nothing and exports the eight functions, its memory and __heap_base, where
# the memory free for the caller's buffers starts. The memory is one fixed
# 64 KiB page: an 8 KiB stack (the core needs a few hundred bytes), the
# parser's state, then the caller's scratch space.
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
# -Os keeps the module under 8 KB; -O3 inlines it past that (about 9 KB).
target_compile_options(ZelkoLink PRIVATE -fno-exceptions -fno-rtti -flto -Os)
set_target_properties(ZelkoLink PROPERTIES
  OUTPUT_NAME zelkolink
  SUFFIX .wasm
  CXX_VISIBILITY_PRESET hidden
  LINKER_LANGUAGE C)
# No start files and no entry point: a library module, not a WASI command.
# wasi-libc supplies memchr and memmove; --strip-all drops names and custom
# sections.
target_link_options(ZelkoLink PRIVATE
  -flto -Os -nostartfiles -Wl,--no-entry ${zelkolink_wasm_exports}
  -Wl,-z,stack-size=8192 -Wl,--initial-memory=65536 -Wl,--max-memory=65536
  -Wl,--strip-all)
