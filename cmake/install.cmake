# Installs the header(s), the library, a CMake package giving
# ZelkoLink::ZelkoLink, and a pkg-config file.
include(CMakePackageConfigHelpers)

set(ZELKOLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZelkoLink)

install(TARGETS ZelkoLink EXPORT ZelkoLinkTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(EXPORT ZelkoLinkTargets NAMESPACE ZelkoLink:: DESTINATION ${ZELKOLINK_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZelkoLinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZelkoLinkConfig.cmake
  INSTALL_DESTINATION ${ZELKOLINK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZelkoLinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/ZelkoLinkConfig.cmake
  ${PROJECT_BINARY_DIR}/ZelkoLinkConfigVersion.cmake
  DESTINATION ${ZELKOLINK_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so the installed
# tree can be moved and `cmake --install --prefix P` needs no reconfigure.
file(RELATIVE_PATH ZELKOLINK_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/zelkolink.pc.in ${PROJECT_BINARY_DIR}/zelkolink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelkolink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
