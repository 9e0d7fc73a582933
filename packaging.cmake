# Installing the tool as a desktop application, and its Debian package.
# Only the tool itself is installed: the simulated device, demo, benchmark and
# tests stay in the build tree.

install(TARGETS tembra-update-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TEMBRA_QM_FILES)
    install(FILES ${TEMBRA_QM_FILES}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/tembra-update-tool/translations)
endif()
install(FILES resources/desktop/tembra-update-tool.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES resources/icons/hicolor/${size}x${size}/apps/tembra-update-tool.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The udev rule that lets the desktop user open the device's port and keeps
# ModemManager away from it, in the folder the udev package names.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(TEMBRA_UDEV_DIR udev udevdir)
endif()
if(NOT TEMBRA_UDEV_DIR)
    set(TEMBRA_UDEV_DIR /lib/udev)
endif()
install(FILES resources/udev/70-tembra-update-tool.rules DESTINATION ${TEMBRA_UDEV_DIR}/rules.d)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The manual page and the changelog go compressed, without time stamps.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(TEMBRA_PACKAGE_DOCS ${CMAKE_CURRENT_BINARY_DIR}/package-docs)
foreach(doc tembra-update-tool.1 changelog)
    add_custom_command(
        OUTPUT ${TEMBRA_PACKAGE_DOCS}/${doc}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TEMBRA_PACKAGE_DOCS}
        COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/docs/${doc}
                > ${TEMBRA_PACKAGE_DOCS}/${doc}.gz
        DEPENDS docs/${doc}
        VERBATIM)
endforeach()
add_custom_target(tembra_package_docs ALL
    DEPENDS ${TEMBRA_PACKAGE_DOCS}/tembra-update-tool.1.gz ${TEMBRA_PACKAGE_DOCS}/changelog.gz)
install(FILES ${TEMBRA_PACKAGE_DOCS}/tembra-update-tool.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/copyright ${TEMBRA_PACKAGE_DOCS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tembra-update-tool)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tembra-update-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tembra")
set(CPACK_PACKAGE_CONTACT "Tembra Update Tool developers <update-tool@tembra.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Tembra wrist devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Tembra Update Tool finds a Tembra wrist device plugged in by USB (a USB
CDC serial port), identifies it and shows its version, device number and
firmware. On request it asks the update service for new firmware, downloads
it and checks its checksum, sends it to the device's boot loader with
XModem-CRC, and restarts the device.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The pages ask for Arial, which this font stands in for; the toolkit's own
# translations give the standard dialogs' buttons the user's language.
# A font with the glyphs of the Chinese translation, beside the Latin one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-liberation, fonts-noto-cjk | fonts-wqy-microhei, qt${QT_VERSION_MAJOR}-translations-l10n")
if(QT_VERSION_MAJOR EQUAL 5)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
        "fonts-liberation, fonts-noto-cjk | fonts-wqy-microhei, qttranslations5-l10n")
endif()
include(CPack)
