# Installation and packaging of the whole product. `cmake --install BUILD [--prefix DIR]` puts
# - component `controller`: the controller in bin/, its man page (gzip -9n) in share/man/man1/,
#   and the documentation in share/doc/mova/, laid out as in the source tree so that its links
#   hold: README.md, CHANGELOG.md, LICENSE, NOTICE, copyright, docs/, host/README.md, examples/;
# - component `host`: the host package `mova_host` (the whole folder: modules, subpackages, the
#   workbench's page) with its metadata in lib/python3/dist-packages/, where Debian keeps the
#   Python 3 modules of packages, and its command `mova-host` in bin/, which finds the package
#   relative to itself, so that it runs under any prefix.
# `cpack` (in the build folder) packs each component as a Debian package: `mova` (the controller
# and the documentation) and `python3-mova-host` (architecture all; runs with Debian's python3).
include(GNUInstallDirs)

set(MOVA_MAINTAINER "The MOVA Traffic Controller Team <maintainers@mova.example>"
    CACHE STRING "Maintainer of the Debian packages: a name and an address in angle brackets")
set(MOVA_INSTALL_PYTHONDIR lib/python3/dist-packages
    CACHE STRING "Where the host package goes, relative to the installation prefix")
set(MOVA_HOST_DEB_NAME python3-mova-host)

# The controller and its man page.
configure_file(${PROJECT_SOURCE_DIR}/docs/mova.1.in ${PROJECT_BINARY_DIR}/mova.1 @ONLY)
find_program(GZIP_EXECUTABLE gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/mova.1.gz
  COMMAND ${GZIP_EXECUTABLE} -9 -n -k -f mova.1
  DEPENDS ${PROJECT_BINARY_DIR}/mova.1
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
add_custom_target(mova_man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/mova.1.gz)

install(TARGETS mova RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT controller)
install(FILES ${PROJECT_BINARY_DIR}/mova.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT controller)

# The documentation and the examples.
install(FILES README.md CHANGELOG.md LICENSE NOTICE packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT controller)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT controller
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.svg")
install(FILES host/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/host COMPONENT controller)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT controller)

# The host package, its metadata and its command line, the last two written from
# host/pyproject.toml by packaging/host_install.py.
set(MOVA_HOST_INSTALL_DIR ${PROJECT_BINARY_DIR}/host-install)
file(RELATIVE_PATH MOVA_PACKAGES_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${MOVA_INSTALL_PYTHONDIR})
add_custom_command(OUTPUT ${MOVA_HOST_INSTALL_DIR}/written
  COMMAND ${MOVA_PYTHON} ${PROJECT_SOURCE_DIR}/packaging/host_install.py
          ${PROJECT_SOURCE_DIR}/host/pyproject.toml ${PROJECT_VERSION} ${MOVA_HOST_INSTALL_DIR}
          ${MOVA_PYTHON} ${MOVA_PACKAGES_FROM_BIN}
  COMMAND ${CMAKE_COMMAND} -E touch ${MOVA_HOST_INSTALL_DIR}/written
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/host_install.py ${PROJECT_SOURCE_DIR}/host/pyproject.toml
  VERBATIM)
add_custom_target(mova_host_install_files ALL DEPENDS ${MOVA_HOST_INSTALL_DIR}/written)

install(DIRECTORY host/mova_host DESTINATION ${MOVA_INSTALL_PYTHONDIR} COMPONENT host
        PATTERN __pycache__ EXCLUDE PATTERN "*.py[co]" EXCLUDE)
install(DIRECTORY ${MOVA_HOST_INSTALL_DIR}/packages/ DESTINATION ${MOVA_INSTALL_PYTHONDIR}
        COMPONENT host)
install(DIRECTORY ${MOVA_HOST_INSTALL_DIR}/bin/ DESTINATION ${CMAKE_INSTALL_BINDIR}
        USE_SOURCE_PERMISSIONS COMPONENT host)
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${MOVA_HOST_DEB_NAME}
        COMPONENT host)

# The Debian packages.
set(CPACK_PACKAGE_NAME mova)
set(CPACK_PACKAGE_VENDOR "The MOVA Traffic Controller Team")
set(CPACK_PACKAGE_CONTACT "${MOVA_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL controller host)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MOVA_MAINTAINER}")
# Each package's description is its own (packaging/cpack-options.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-options.cmake)

set(CPACK_DEBIAN_CONTROLLER_PACKAGE_NAME mova)
set(CPACK_DEBIAN_CONTROLLER_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CONTROLLER_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CONTROLLER_PACKAGE_RECOMMENDS ${MOVA_HOST_DEB_NAME})
set(CPACK_DEBIAN_CONTROLLER_DESCRIPTION
    "traffic controller for three autonomous vehicles on a road network
mova is a console program driven by a host process through its standard input and
output: the host describes a network of 12 positions and up to 15 roads, places three
vehicles and their goals, and asks for a joint plan, which it then reads step by step,
follows, and re-plans around blocked roads.
This package holds the controller, its manual page, the protocol reference and the
example missions and scenarios.")

set(CPACK_DEBIAN_HOST_PACKAGE_NAME ${MOVA_HOST_DEB_NAME})
set(CPACK_DEBIAN_HOST_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_HOST_PACKAGE_SECTION python)
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "python3 (>= 3.11), mova (= ${PROJECT_VERSION})")
# The fleet bridge (mova-host fleet, fleet-sim) needs the MQTT client and a broker to talk to.
set(CPACK_DEBIAN_HOST_PACKAGE_RECOMMENDS python3-paho-mqtt)
set(CPACK_DEBIAN_HOST_PACKAGE_SUGGESTS mosquitto)
set(CPACK_DEBIAN_HOST_DESCRIPTION
    "host client of the mova traffic controller (Python 3)
The mova_host package runs the mova controller as a child process and speaks its
line protocol: missions, plan tables and pictures, scenario files, exact explanations of
the controller's answers, and a local web workbench to design networks and rehearse
missions. The command mova-host gives all of it on the command line.")
# The modules are compiled after installation and the compiled files removed before removal,
# as for every Python package of the system.
set(MOVA_HOST_DEB_PACKAGE_DIR /usr/${MOVA_INSTALL_PYTHONDIR}/mova_host)
configure_file(packaging/postinst.in ${PROJECT_BINARY_DIR}/debian-host/postinst @ONLY)
configure_file(packaging/prerm.in ${PROJECT_BINARY_DIR}/debian-host/prerm @ONLY)
set(CPACK_DEBIAN_HOST_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian-host/postinst ${PROJECT_BINARY_DIR}/debian-host/prerm)
set(CPACK_DEBIAN_HOST_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
