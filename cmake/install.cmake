# Installing zel-profile: the libraries a C++ project links (zel::package, zel::profile and, when
# built, zel::storage with its former name zel::package_storage), their public headers, the tool,
# the Python module when built, a CMake package configuration with a version file, a pkg-config
# file, and a Debian package made by cpack -G DEB.
include(CMakePackageConfigHelpers)

set(ZEL_PROFILE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zel_profile)

# Installs a library target and the public headers under `include_dir`, in the export set.
function(zel_profile_install target include_dir)
  if(NOT ZEL_PROFILE_INSTALL)
    return()
  endif()
  install(TARGETS ${target} EXPORT zel_profile_targets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${include_dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set_property(GLOBAL APPEND PROPERTY ZEL_PROFILE_INSTALLED_TARGETS ${target})
endfunction()

# The package configuration, version and pkg-config files, and the Debian package's settings.
function(zel_profile_install_package)
  if(NOT ZEL_PROFILE_INSTALL)
    return()
  endif()
  get_property(installed GLOBAL PROPERTY ZEL_PROFILE_INSTALLED_TARGETS)
  set(ZEL_PROFILE_WITH_STORAGE OFF)
  if(zel_storage IN_LIST installed)
    set(ZEL_PROFILE_WITH_STORAGE ON)
  endif()

  install(EXPORT zel_profile_targets NAMESPACE zel:: DESTINATION ${ZEL_PROFILE_CMAKE_DIR}
          FILE zel_profileTargets.cmake)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zel_profileConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/zel_profileConfig.cmake
                                INSTALL_DESTINATION ${ZEL_PROFILE_CMAKE_DIR})
  # Before 1.0 a minor version may change the interface, so only the same minor version matches.
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/zel_profileConfigVersion.cmake
                                   COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/zel_profileConfig.cmake
                ${PROJECT_BINARY_DIR}/zel_profileConfigVersion.cmake
          DESTINATION ${ZEL_PROFILE_CMAKE_DIR})

  configure_file(${PROJECT_SOURCE_DIR}/cmake/zel_profile.pc.in
                 ${PROJECT_BINARY_DIR}/zel_profile.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/zel_profile.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

  set(CPACK_PACKAGE_NAME zel-profile PARENT_SCOPE)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION} PARENT_SCOPE)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "Queries execution profiles of a many-tile processor: library, headers and tool" PARENT_SCOPE)
  set(CPACK_PACKAGE_CONTACT "zel-profile developers <zel-profile@localhost>" PARENT_SCOPE)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel PARENT_SCOPE)
  # The tool's shared libraries (simdjson, the C++ runtime) become the package's dependencies, and
  # so do the headers that find_package(zel_profile) looks for on behalf of zel::storage.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON PARENT_SCOPE)
  if(ZEL_PROFILE_WITH_STORAGE)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsimdjson-dev, nlohmann-json3-dev, zlib1g-dev, libzstd-dev" PARENT_SCOPE)
  endif()
  # The Python module is built for one Python version; pandas and dask.distributed serve its
  # frames and query_files.
  get_property(python_version GLOBAL PROPERTY ZEL_PROFILE_PYTHON_VERSION)
  if(python_version)
    string(REPLACE "." ";" parts ${python_version})
    list(GET parts 0 major)
    list(GET parts 1 minor)
    math(EXPR next_minor "${minor} + 1")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
        "python3 (>= ${major}.${minor}), python3 (<< ${major}.${next_minor})" PARENT_SCOPE)
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pandas, python3-distributed" PARENT_SCOPE)
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT PARENT_SCOPE)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr PARENT_SCOPE)
endfunction()
