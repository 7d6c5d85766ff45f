# What `cmake --install` puts where, and the Debian package CPack makes of it.
include(GNUInstallDirs)

install(TARGETS ostrel-cli vexa-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET ostrel)
    install(TARGETS ostrel ostrel-fleet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES resources/images/ostrel.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
    install(FILES packaging/ostrel.desktop packaging/ostrel-fleet.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    configure_file(packaging/example.ostrel.Ostrel.metainfo.xml
        ${PROJECT_BINARY_DIR}/packaging/example.ostrel.Ostrel.metainfo.xml
        @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/example.ostrel.Ostrel.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
# The dissector, where Wireshark looks for its global Lua plugins.
install(FILES packaging/wireshark/vexa.lua
    DESTINATION lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
install(FILES packaging/ostrel-cli.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ostrel-cli)

# Manual pages: scdoc sources, turned into roff and compressed at build time.
find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)
set(manual_pages ostrel-cli vexa-sim)
if(TARGET ostrel)
    list(APPEND manual_pages ostrel ostrel-fleet)
endif()
set(built_pages)
foreach(page IN LISTS manual_pages)
    set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page}.1.scd)
    set(built ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${built}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -DSCDOC=${SCDOC} -DGZIP=${GZIP} -DSOURCE=${source}
            -DTARGET=${built} -P ${PROJECT_SOURCE_DIR}/cmake/BuildManualPage.cmake
        DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/BuildManualPage.cmake
        COMMENT "Manual page ${page}(1)")
    list(APPEND built_pages ${built})
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${built_pages})
install(FILES ${built_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What Debian asks of every package: the copyright and a compressed changelog (named as a
# native package's, since upstream and package are one).
configure_file(packaging/debian/changelog ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${GZIP} -9nkf ${PROJECT_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog)
add_custom_target(debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ostrel developers <maintainers@users.noreply.c-seed-54b8dd4f.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update, find and set up Vexa network I/O modules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ostrel looks after Vexa network I/O modules over UDP on the local network: it\n\
updates their firmware from Intel HEX files, with CRC-checked frames, retries\n\
and a CRC-16 comparison, lists the modules that answer, reads and writes their\n\
network settings and switches their identification indicator.\n\
.\n\
The package holds the window (ostrel), the fleet window that shows every module\n\
of the plant in one table and updates many at once (ostrel-fleet), the console\n\
for scripts, CI and fleets (ostrel-cli, with JSON lines and a table of exit\n\
codes) and a simulated module for trying and testing without hardware\n\
(vexa-sim).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
