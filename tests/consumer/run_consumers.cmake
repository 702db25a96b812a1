# Installs the build tree into a fresh prefix, then builds and runs two
# consumers against the installed copy: one through find_package, one
# through pkg-config (native builds only).
#   cmake -DBUILD_DIR=... -DWORK_DIR=... [-DTOOLCHAIN_FILE=... -DEMULATOR=...] -P run_consumers.cmake
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message("${out}")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGV}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(configure ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/find_package
  -G Ninja -DCMAKE_PREFIX_PATH=${prefix})
if(TOOLCHAIN_FILE)
  # A cross toolchain confines package search to its own root, so the
  # package folder is named directly.
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
    -DZelkoLink_DIR=${prefix}/lib/cmake/ZelkoLink)
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/find_package)
if(EMULATOR)
  run(${EMULATOR} ${WORK_DIR}/find_package/consumer.exe)
  return()
endif()
run(${WORK_DIR}/find_package/consumer)

find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs zelkolink
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${PKG_CONFIG} --variable=libdir zelkolink
  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(cc -std=c99 -Wall -Werror ${CMAKE_CURRENT_LIST_DIR}/consumer.c ${flags} -Wl,-rpath,${libdir}
  -o ${WORK_DIR}/pkg_config_consumer)
run(${WORK_DIR}/pkg_config_consumer)
message("1 passed with find_package, 1 passed with pkg-config")
