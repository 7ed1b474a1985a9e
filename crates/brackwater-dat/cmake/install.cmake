# Installs the headers, the library and a package config, so that an
# outside project can find_package(brackwater_dat CONFIG) and link brackwater::dat,
# or ask pkg-config for brackwater_dat.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(BRACKWATER_DAT_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/brackwater_dat")

install(TARGETS brackwater_dat EXPORT brackwater_dat_targets
        ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(DIRECTORY include/ "${CMAKE_CURRENT_BINARY_DIR}/include/"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
        FILES_MATCHING PATTERN "*.hpp")
install(EXPORT brackwater_dat_targets NAMESPACE brackwater::
        FILE brackwater_datTargets.cmake DESTINATION "${BRACKWATER_DAT_CMAKE_DIR}")

configure_package_config_file(cmake/brackwater_datConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/brackwater_datConfig.cmake"
  INSTALL_DESTINATION "${BRACKWATER_DAT_CMAKE_DIR}")
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/brackwater_datConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/brackwater_datConfig.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/brackwater_datConfigVersion.cmake"
        DESTINATION "${BRACKWATER_DAT_CMAKE_DIR}")

install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# For builds that use pkg-config rather than CMake.
configure_file(cmake/brackwater_dat.pc.in "${CMAKE_CURRENT_BINARY_DIR}/brackwater_dat.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/brackwater_dat.pc"
        DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
