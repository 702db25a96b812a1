# Installs the Node.js example into DESTINATION, outside the source tree:
# serialport from npm's registry as its lockfile pins it (npm ci), and the
# staged zelkolink package linked in as an installed one would be.
# cmake -DSOURCE=examples/node -DDESTINATION=DIR -DPACKAGE=DIR -DNPM=npm -P install_node_example.cmake
file(REMOVE_RECURSE ${DESTINATION})
file(MAKE_DIRECTORY ${DESTINATION})
file(COPY ${SOURCE}/package.json ${SOURCE}/package-lock.json ${SOURCE}/watch.mjs DESTINATION ${DESTINATION})
execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${DESTINATION}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "npm ci failed in ${DESTINATION} (status ${status}): it needs npm's registry")
endif()
file(CREATE_LINK ${PACKAGE} ${DESTINATION}/node_modules/zelkolink SYMBOLIC)
