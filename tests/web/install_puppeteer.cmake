# Installs puppeteer-core into DESTINATION, outside the source tree, as the
# lockfile pins it (npm ci from npm's registry). No browser is downloaded:
# the test drives Debian's chromium.
# cmake -DSOURCE=tests/web -DDESTINATION=DIR -DNPM=npm -P install_puppeteer.cmake
file(REMOVE_RECURSE ${DESTINATION})
file(MAKE_DIRECTORY ${DESTINATION})
file(COPY ${SOURCE}/package.json ${SOURCE}/package-lock.json DESTINATION ${DESTINATION})
set(ENV{PUPPETEER_SKIP_DOWNLOAD} 1)
execute_process(COMMAND ${NPM} ci --no-audit --no-fund WORKING_DIRECTORY ${DESTINATION}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "npm ci failed in ${DESTINATION} (status ${status}): it needs npm's registry")
endif()
