# Debian packages of the install components (cpack -G DEB in a build
# configured with -DCMAKE_INSTALL_PREFIX=/usr; scripts/package.sh does it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavlor-quorvelunit)
set(CPACK_PACKAGE_VENDOR Tavlor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tavlor_QuorvelUnit maintainers <quorvel@tavlor.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tavlor.example/quorvel")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${QUORVEL_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# shlibdeps finds our own library in the packages being made.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})

foreach(component ${QUORVEL_COMPONENTS})
  string(TOUPPER ${component} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${QUORVEL_PACKAGE_${component}})
  if(NOT component STREQUAL runtime)
    set(CPACK_COMPONENT_${C}_DEPENDS runtime)
  endif()
endforeach()

set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "driver of the Zentrix8 RF power measurement and switching unit
The shared library of the Zentrix8 driver (clsQuorvelUnit): power and burst
measurements, signal path switching, path attenuation tables and firmware
updates over VISA/SCPI (raw socket and VXI-11), with the component boundary
that scripting hosts load by name, the embedded unit simulator and the
file-backed reference host library.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# What programs linking the libraries depend on, and the loader's cache
# refreshed by a trigger rather than by scripts.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/package/runtime/shlibs ${PROJECT_SOURCE_DIR}/cmake/package/runtime/triggers)

set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "development files of the Zentrix8 driver
Headers of the driver, the host and platform interfaces and the component's
C boundary, the CMake package (find_package(Tavlor_QuorvelUnit 24 CONFIG))
and pkg-config files (tavlor-quorvelunit, quorvel-host) for C++20 programs
that drive a Zentrix8.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)

set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line tool and service panel for the Zentrix8
quorvel measures power and bursts, switches signal paths, reads attenuation
tables, updates firmware and finds units on the network, from the command
line or scripts (JSON and CSV output).  quorvel-panel shows the unit's
service dialog in a desktop window.  Both run on the embedded simulator
when no unit is configured.")

set(CPACK_COMPONENT_SIMULATOR_DESCRIPTION "simulated Zentrix8 RF power unit on the network
zentrix8-sim answers SCPI over a raw socket and VXI-11 (with a portmapper of
its own, or mapped at the system's rpcbind) as a Zentrix8 does, for tests
and demonstrations without a unit.  A systemd service, off by default, runs
it as an unprivileged user.")
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/package/simulator/postinst ${PROJECT_SOURCE_DIR}/cmake/package/simulator/prerm
  ${PROJECT_SOURCE_DIR}/cmake/package/simulator/postrm ${PROJECT_SOURCE_DIR}/cmake/package/simulator/conffiles)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SUGGESTS rpcbind)

set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python interface to the Zentrix8 driver
The quorvel package loads the installed Zentrix8 component and drives it by
name from Python 3 (quorvel.Dispatch(\"Tavlor_QuorvelUnit.clsQuorvelUnit\")),
with the component's enumerations and records as Python types.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/package/python/postinst ${PROJECT_SOURCE_DIR}/cmake/package/python/prerm)

include(CPack)
