# Install rules: the public headers, the library, the tarvo command with its
# manual page and completions (see tools/cli), the built-in grammars' files,
# a relocatable CMake package exporting tarvo::tarvo, and tarvo.pc.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tarvo
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(TARGETS tarvo EXPORT tarvoTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The sources of the built-in grammars, to read, copy and load changed
# copies of; 'tarvo grammars' names them here.
file(GLOB _tarvo_grammar_files ${PROJECT_SOURCE_DIR}/src/schemas/*.grammar)
install(FILES ${_tarvo_grammar_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo/grammars)

set(TARVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarvo)
install(EXPORT tarvoTargets
  NAMESPACE tarvo::
  DESTINATION ${TARVO_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tarvoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tarvoConfig.cmake
  INSTALL_DESTINATION ${TARVO_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tarvoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tarvoConfig.cmake ${PROJECT_BINARY_DIR}/tarvoConfigVersion.cmake
  DESTINATION ${TARVO_CMAKE_DIR})

# tarvo.pc finds its prefix from its own place (${pcfiledir}), so the
# installed tree can be moved as a whole.
set(TARVO_PC_PREFIX "\${pcfiledir}/..")
string(REPLACE "/" ";" _tarvo_libdir_parts "${CMAKE_INSTALL_LIBDIR}")
foreach(part IN LISTS _tarvo_libdir_parts)
  string(APPEND TARVO_PC_PREFIX "/..")
endforeach()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(TARVO_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(TARVO_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvo.pc.in ${PROJECT_BINARY_DIR}/tarvo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
