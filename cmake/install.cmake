# Installation and packaging: `cmake --install BUILD [--prefix DIR]` puts the controller in
# bin/, its man page in share/man/man1/ and the documentation in share/doc/mova/;
# `cpack -G DEB` (in the build folder) packs the same files as a Debian package.
include(GNUInstallDirs)

configure_file(${PROJECT_SOURCE_DIR}/docs/mova.1.in ${PROJECT_BINARY_DIR}/mova.1 @ONLY)

install(TARGETS mova RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/mova.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md CHANGELOG.md LICENSE NOTICE packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/protocol.md docs/reliability.md docs/performance.md docs/plan.png
              docs/replan.png
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES examples/mission.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME mova)
set(CPACK_PACKAGE_VENDOR "The MOVA Traffic Controller Team")
set(CPACK_PACKAGE_CONTACT "The MOVA Traffic Controller Team")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "traffic controller for three autonomous vehicles on a road network")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION
    "mova is a console program driven by a host process through its standard input and\n\
output: the host describes a network of 12 positions and up to 15 roads, places three\n\
vehicles and their goals, and asks for a joint plan, which it then reads step by step,\n\
follows, and re-plans around blocked roads.")
include(CPack)
