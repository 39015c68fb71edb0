# Headers, both libraries, the host streams, the tool, a CMake package giving
# qdparse::qdparse and pkg-config files.
include(CMakePackageConfigHelpers)

if(NOT TARGET qdparse_host)
  return()
endif()
install(TARGETS qdparse qdparse_static qdparse_host
  EXPORT qdparseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qdparse.h ${PROJECT_SOURCE_DIR}/include/qdparse_host.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(qdparse_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/qdparse)
install(EXPORT qdparseTargets NAMESPACE qdparse:: DESTINATION ${qdparse_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qdparseConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qdparseConfig.cmake INSTALL_DESTINATION ${qdparse_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qdparseConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qdparseConfig.cmake ${PROJECT_BINARY_DIR}/qdparseConfigVersion.cmake
  DESTINATION ${qdparse_cmake_dir})

# The .pc file finds its prefix from its own location, so it stays right when
# the prefix is chosen at install time (cmake --install --prefix).
set(qdparse_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${qdparse_pc_dir}")
  set(qdparse_pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH qdparse_pc_up "/prefix/${qdparse_pc_dir}" "/prefix")
  string(REGEX REPLACE "/$" "" qdparse_pc_up "${qdparse_pc_up}")
  set(qdparse_pc_prefix "\${pcfiledir}/${qdparse_pc_up}")
endif()
foreach(d LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${d}}")
    set(qdparse_pc_${d} "${CMAKE_INSTALL_${d}}")
  else()
    set(qdparse_pc_${d} "\${prefix}/${CMAKE_INSTALL_${d}}")
  endif()
endforeach()
# qdparse (shared), qdparse-static (linked in) and qdparse-host (the streams).
foreach(pc qdparse qdparse-static qdparse-host)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${qdparse_pc_dir})
endforeach()
