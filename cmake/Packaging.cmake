# Desktop integration and the Debian package: `cmake --install` puts the
# program, the line tool, the modem call program, the desktop file, the icons
# and pppd's peers file in place; `cpack -G DEB` (or `make package`) builds a
# .deb of the same. `cmake --install build --component ppp-peers` installs the
# peers file alone.
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

# pppd's options for Vantelo's modem calls: readable by root and the dip group,
# whose members may run pppd.
if(NOT WIN32)
    install(FILES ${CMAKE_SOURCE_DIR}/data/ppp/vantelo DESTINATION /etc/ppp/peers
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ COMPONENT ppp-peers)
    install(CODE [[
        if(NOT DEFINED ENV{DESTDIR} OR "$ENV{DESTDIR}" STREQUAL "")
            execute_process(COMMAND chgrp dip /etc/ppp/peers/vantelo RESULT_VARIABLE rc)
            if(NOT rc EQUAL 0)
                message(WARNING "Could not give /etc/ppp/peers/vantelo to the dip group")
            endif()
        endif()
    ]] COMPONENT ppp-peers)
endif()

set(CPACK_PACKAGE_NAME vantelo)
set(CPACK_PACKAGE_VENDOR "Vantelo")
set(CPACK_PACKAGE_CONTACT "Vantelo developers <dev@vantelo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small auto-dialer for dial-up networking")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The peers file goes to /etc whatever the prefix: stage everything under DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ppp")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/data/debian/conffiles ${CMAKE_SOURCE_DIR}/data/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
