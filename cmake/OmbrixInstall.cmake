# What `cmake --install` puts under a prefix: the shared library, the public headers, and the files
# by which hosts find them (ombrix.pc for pkg-config, the Ombrix package for find_package). Both
# locate the library relative to themselves, so the prefix is chosen at install time and may move.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OMBRIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Ombrix)
set(OMBRIX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS ombrix EXPORT OmbrixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})  # for hosts whose CMake predates file sets
install(EXPORT OmbrixTargets NAMESPACE Ombrix:: DESTINATION ${OMBRIX_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/OmbrixConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OmbrixConfig.cmake INSTALL_DESTINATION ${OMBRIX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OmbrixConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OmbrixConfig.cmake ${PROJECT_BINARY_DIR}/OmbrixConfigVersion.cmake
  DESTINATION ${OMBRIX_CMAKE_DIR})

file(RELATIVE_PATH OMBRIX_PKGCONFIG_TO_PREFIX /prefix/${OMBRIX_PKGCONFIG_DIR} /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ombrix.pc.in ${PROJECT_BINARY_DIR}/ombrix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ombrix.pc DESTINATION ${OMBRIX_PKGCONFIG_DIR})
