# What `cmake --install` adds beside the programs and libraries (the systemd
# unit, a commented configuration, the licence and the documents), and the
# Debian package CPack makes of it all (`cpack -G DEB` in a build configured
# with the package preset, which installs under /usr with /etc for the
# configuration).

configure_file(${PROJECT_SOURCE_DIR}/packaging/varrowd.service
               ${PROJECT_BINARY_DIR}/packaging/varrowd.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/varrowd.service
        DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/varrowd.conf
        DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/varrow)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Debian's changelog, compressed as the policy asks, made from the version.
string(TIMESTAMP VARROW_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog
               @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                   COMMAND gzip -n -9 -c ${PROJECT_BINARY_DIR}/packaging/changelog
                           > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog)
add_custom_target(varrow_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack packs what was built (build first), rather than build every target
# of a tree that may hold tests and benchmarks too.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME varrow)
set(CPACK_PACKAGE_VENDOR "the Varrow developers")
set(CPACK_PACKAGE_CONTACT "the Varrow developers <varrow@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AES, MD5, SHA-1 and hex procedures for SQL Server clients")
set(CPACK_PACKAGE_DESCRIPTION
    "varrowd serves the Varrow extended stored procedures (AES-ECB, MD5, SHA-1,\n\
hex) to unmodified SQL Server client drivers over TDS, with TLS; varrow runs the\n\
same procedures from SQL batches on the command line.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # varrow_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/varrow")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
configure_file(${PROJECT_SOURCE_DIR}/packaging/conffiles.in ${PROJECT_BINARY_DIR}/packaging/conffiles
               @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
include(CPack)

# A second package, for Windows: cpack --config CPackWindowsConfig.cmake.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-zip.cmake.in
               ${PROJECT_BINARY_DIR}/CPackWindowsConfig.cmake @ONLY)
