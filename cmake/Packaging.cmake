# Desktop integration and the Debian package: `cmake --install` puts the
# program, the line tool, the desktop file and the icons in place; `cpack -G DEB`
# (or `make package`) builds a .deb of the same.
include(GNUInstallDirs)

install(FILES ${CMAKE_SOURCE_DIR}/data/vantelo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 128)
    if(size EQUAL 32)
        set(icon ${CMAKE_SOURCE_DIR}/src/ui/resources/vantelo.png)
    else()
        set(icon ${CMAKE_SOURCE_DIR}/src/ui/resources/icon-${size}.png)
    endif()
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME vantelo.png)
endforeach()

set(CPACK_PACKAGE_NAME vantelo)
set(CPACK_PACKAGE_VENDOR "Vantelo")
set(CPACK_PACKAGE_CONTACT "Vantelo developers <dev@vantelo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small auto-dialer for dial-up networking")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
