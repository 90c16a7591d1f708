# Where `cmake --install` puts things (GNU directories; configure with
# -DCMAKE_INSTALL_PREFIX=/usr for Debian's multiarch library folder), in
# the components the Debian packages are made of (cmake/Package.cmake).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORVEL_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/Tavlor_QuorvelUnit)
set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavlor_QuorvelUnit)
set(QUORVEL_PYTHON_DIR lib/python3/dist-packages CACHE STRING "Where the quorvel Python package is installed")

# The Debian package of each install component; each package's documents
# folder holds its copyright and change log.
set(QUORVEL_COMPONENTS runtime development tools simulator python)
set(QUORVEL_PACKAGE_runtime libtavlor-quorvelunit${PROJECT_VERSION_MAJOR})
set(QUORVEL_PACKAGE_development libtavlor-quorvelunit-dev)
set(QUORVEL_PACKAGE_tools quorvel-tools)
set(QUORVEL_PACKAGE_simulator zentrix8-sim)
set(QUORVEL_PACKAGE_python python3-quorvel)
string(TIMESTAMP QUORVEL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component ${QUORVEL_COMPONENTS})
  set(package ${QUORVEL_PACKAGE_${component}})
  set(QUORVEL_CHANGELOG_PACKAGE ${package})
  configure_file(cmake/package/changelog.in ${CMAKE_BINARY_DIR}/package/${package}/changelog @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/${package}/changelog.gz
    COMMAND sh -c "gzip -9n < changelog > changelog.gz" WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package/${package}
    DEPENDS ${CMAKE_BINARY_DIR}/package/${package}/changelog VERBATIM)
  list(APPEND QUORVEL_CHANGELOGS ${CMAKE_BINARY_DIR}/package/${package}/changelog.gz)
  install(FILES cmake/package/copyright ${CMAKE_BINARY_DIR}/package/${package}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
add_custom_target(quorvel_changelogs ALL DEPENDS ${QUORVEL_CHANGELOGS})
# What lintian reports and why it stays, where the package has such a tag.
install(FILES cmake/package/runtime/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME ${QUORVEL_PACKAGE_runtime} COMPONENT runtime)

# What a host program includes: the driver, the host's and the platform's
# interfaces, the component's C boundary and the host library's entry.  The
# consumer test compiles each of them on its own against the installed files.
set(QUORVEL_PUBLIC_HEADERS
  core/Export.h core/Vb.h
  host/DataSet.h host/Device.h host/DeviceDialog.h host/DeviceList.h host/Services.h host/Settings.h
  host/TextService.h host/TimeService.h host/TraceLogger.h host/UnitService.h host/Utility.h
  platform/Platform.h platform/System.h platform/Headless.h platform/Desktop.h
  io/ScpiLink.h io/Trace.h io/frmVISA.h visa/CWVisa.h visa/VisaControl.h
  driver/clsQuorvelUnit.h driver/Defaults.h driver/Limits.h driver/ServiceForm.h driver/Types.h
  com/ComTypes.h)
foreach(header ${QUORVEL_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${QUORVEL_INCLUDE_DIR}/${folder} COMPONENT development)
endforeach()
install(FILES apps/comhost/QuorvelHost.h DESTINATION ${QUORVEL_INCLUDE_DIR}/comhost COMPONENT development)

# The component and the host library: versioned, the link-time name in the
# development files.
target_include_directories(Tavlor_QuorvelUnit INTERFACE $<INSTALL_INTERFACE:${QUORVEL_INCLUDE_DIR}>)
target_compile_features(Tavlor_QuorvelUnit INTERFACE cxx_std_20)
set_target_properties(quorvel_host PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(quorvel_host INTERFACE $<INSTALL_INTERFACE:${QUORVEL_INCLUDE_DIR}>)
target_link_libraries(quorvel_host INTERFACE $<INSTALL_INTERFACE:Tavlor_QuorvelUnit::Tavlor_QuorvelUnit>)
install(TARGETS Tavlor_QuorvelUnit quorvel_host EXPORT Tavlor_QuorvelUnitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(EXPORT Tavlor_QuorvelUnitTargets NAMESPACE Tavlor_QuorvelUnit:: DESTINATION ${QUORVEL_CMAKE_DIR}
  COMPONENT development)
configure_package_config_file(cmake/package/Tavlor_QuorvelUnitConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/Tavlor_QuorvelUnitConfig.cmake INSTALL_DESTINATION ${QUORVEL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/Tavlor_QuorvelUnitConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/Tavlor_QuorvelUnitConfig.cmake
              ${CMAKE_BINARY_DIR}/package/Tavlor_QuorvelUnitConfigVersion.cmake
  DESTINATION ${QUORVEL_CMAKE_DIR} COMPONENT development)
foreach(pc tavlor-quorvelunit quorvel-host)
  configure_file(cmake/package/${pc}.pc.in ${CMAKE_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

# The programs, with the tool's manual page and bash completion made by the
# tool itself from its command table.
install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/quorvel.1.gz ${CMAKE_BINARY_DIR}/package/quorvel.bash
  COMMAND sh -c "$<TARGET_FILE:quorvel> man | gzip -9n > quorvel.1.gz && $<TARGET_FILE:quorvel> completion > quorvel.bash"
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package DEPENDS quorvel VERBATIM)
add_custom_target(quorvel_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/package/quorvel.1.gz ${CMAKE_BINARY_DIR}/package/quorvel.bash)
install(FILES ${CMAKE_BINARY_DIR}/package/quorvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${CMAKE_BINARY_DIR}/package/quorvel.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME quorvel COMPONENT tools)
install(FILES docs/quorvel.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUORVEL_PACKAGE_tools}/examples COMPONENT tools)
if(TARGET quorvel-panel)
  install(TARGETS quorvel-panel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(FILES cmake/package/quorvel-panel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tools)
  install(FILES cmake/package/quorvel-panel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT tools)
endif()
foreach(page quorvel-panel zentrix8-sim)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/${page}.1.gz
    COMMAND sh -c "gzip -9n < ${PROJECT_SOURCE_DIR}/cmake/package/${page}.1 > ${page}.1.gz"
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package DEPENDS cmake/package/${page}.1 VERBATIM)
  list(APPEND QUORVEL_PAGES ${CMAKE_BINARY_DIR}/package/${page}.1.gz)
endforeach()
add_custom_target(quorvel_pages ALL DEPENDS ${QUORVEL_PAGES})
if(TARGET quorvel-panel)
  install(FILES ${CMAKE_BINARY_DIR}/package/quorvel-panel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endif()

# The simulator, with a service that is off until the administrator enables it.
install(TARGETS zentrix8-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)
install(FILES ${CMAKE_BINARY_DIR}/package/zentrix8-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT simulator)
install(FILES cmake/package/zentrix8-sim.service DESTINATION lib/systemd/system COMPONENT simulator)
install(FILES cmake/package/zentrix8-sim.default DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default RENAME zentrix8-sim
  COMPONENT simulator)

# The Python package (pure Python: it loads the installed component).
install(DIRECTORY python/quorvel DESTINATION ${QUORVEL_PYTHON_DIR} COMPONENT python
  FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
install(FILES python/examples/burst_search.py DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUORVEL_PACKAGE_python}/examples
  COMPONENT python)
