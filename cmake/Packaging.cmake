# Desktop integration and the Debian package: `cmake --install` puts the
# program, the line tool, the modem call program, the desktop file, the icons,
# the AppStream metadata, the manual pages, the changelog and copyright file,
# and pppd's peers file in place; `cpack -G DEB` (or `make package`) builds a
# .deb of the same, with stripped programs, and their debugging symbols in a
# vantelo-dbgsym .ddeb beside it. `cmake --install build --component
# ppp-peers` installs the peers file alone.
include(GNUInstallDirs)

set(VANTELO_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/data/debian)
set(VANTELO_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/vantelo)
set(VANTELO_GENERATED_DATA ${CMAKE_BINARY_DIR}/data)

# Optimised builds are hardened the way Debian builds its packages: checked
# buffer functions, a stack protector, and relocations made read-only before
# the program runs. Debug and sanitizer builds are left alone (the checked
# functions need optimisation, and they hide faults from AddressSanitizer).
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT WIN32 AND NOT VANTELO_SANITIZE)
    set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    target_compile_options(vantelo_common INTERFACE
        $<${optimised}:-U_FORTIFY_SOURCE> $<${optimised}:-D_FORTIFY_SOURCE=2>
        -fstack-protector-strong)
    target_link_options(vantelo_common INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()

# The latest entry of the package's changelog names the version and the date
# of the release; the AppStream metadata and the manual pages take both from
# it, and it must be this project's version.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VANTELO_DEBIAN_DIR}/changelog)
find_program(VANTELO_PARSECHANGELOG dpkg-parsechangelog)
set(VANTELO_RELEASE_EPOCH "")
if(VANTELO_PARSECHANGELOG)
    execute_process(
        COMMAND ${VANTELO_PARSECHANGELOG} -l ${VANTELO_DEBIAN_DIR}/changelog -S Version
        OUTPUT_VARIABLE release_version OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(
        COMMAND ${VANTELO_PARSECHANGELOG} -l ${VANTELO_DEBIAN_DIR}/changelog -S Timestamp
        OUTPUT_VARIABLE VANTELO_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    if(NOT release_version STREQUAL PROJECT_VERSION)
        message(FATAL_ERROR "data/debian/changelog's latest entry is version ${release_version}, "
                            "the project is ${PROJECT_VERSION}: add an entry for this release")
    endif()
    # string(TIMESTAMP) reads the time from SOURCE_DATE_EPOCH when it is set.
    set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} ${VANTELO_RELEASE_EPOCH})
    string(TIMESTAMP VANTELO_RELEASE_DATE "%Y-%m-%d" UTC)
    set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
else()
    message(WARNING "dpkg-parsechangelog (package dpkg-dev) not found: "
                    "the AppStream release is dated today")
    string(TIMESTAMP VANTELO_RELEASE_DATE "%Y-%m-%d" UTC)
endif()

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

set(VANTELO_METAINFO ${VANTELO_GENERATED_DATA}/org.example.vantelo.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/data/org.example.vantelo.metainfo.xml.in ${VANTELO_METAINFO}
               @ONLY)
install(FILES ${VANTELO_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

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

if(NOT WIN32)
    # The Debian changelog and the copyright file; the changelog compressed
    # the way Debian wants it: at the highest level, without name or time.
    set(changelog_gz ${VANTELO_GENERATED_DATA}/changelog.gz)
    add_custom_command(
        OUTPUT ${changelog_gz}
        COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${VANTELO_DEBIAN_DIR}/changelog ${changelog_gz}
        DEPENDS ${VANTELO_DEBIAN_DIR}/changelog
        COMMENT "Compressing the changelog" VERBATIM)
    add_custom_target(vantelo_changelog ALL DEPENDS ${changelog_gz})
    install(FILES ${changelog_gz} ${VANTELO_DEBIAN_DIR}/copyright
            DESTINATION ${VANTELO_PACKAGE_DOCDIR})

    # The manual pages, made by help2man from each program's --help and
    # --version, with the sections --help does not give (files, environment,
    # see also) from data/man/. The usage text stays their one source.
    find_program(VANTELO_HELP2MAN help2man)
    if(VANTELO_HELP2MAN)
        set(man_dir ${CMAKE_BINARY_DIR}/man)
        set(man_pages)
        # The pages are dated with the release, not with the day they are made.
        set(man_env)
        if(VANTELO_RELEASE_EPOCH)
            set(man_env SOURCE_DATE_EPOCH=${VANTELO_RELEASE_EPOCH})
        endif()
        foreach(program vantelo vantelo-line)
            if(program STREQUAL "vantelo")
                set(name "auto-dialer for dial-up networking")
            else()
                set(name "work Vantelo's dial-up lines from the command line")
            endif()
            set(include ${CMAKE_SOURCE_DIR}/data/man/${program}.h2m)
            set(page ${man_dir}/${program}.1)
            add_custom_command(
                OUTPUT ${page}.gz
                COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
                COMMAND ${CMAKE_COMMAND} -E env ${man_env}
                        ${VANTELO_HELP2MAN} --no-info --section=1
                        --name=${name} --include=${include} --output=${page}
                        $<TARGET_FILE:${program}>
                COMMAND gzip -9nf ${page}
                DEPENDS ${program} ${include}
                COMMENT "Writing the manual page of ${program}" VERBATIM)
            list(APPEND man_pages ${page}.gz)
        endforeach()
        add_custom_target(vantelo_man_pages ALL DEPENDS ${man_pages})
        install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        message(WARNING "help2man not found: the manual pages are not made")
    endif()
endif()

set(CPACK_PACKAGE_NAME vantelo)
set(CPACK_PACKAGE_VENDOR "Vantelo")
set(CPACK_PACKAGE_CONTACT "Vantelo developers <dev@vantelo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small auto-dialer for dial-up networking")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://vantelo.example.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The peers file goes to /etc whatever the prefix: stage everything under DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ppp")
# The extended description; cpack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
Vantelo dials a dial-up Internet connection from one small window: type
a login, a password and a phone number and press Connecter. It follows
the call in words, counts the time on line, keeps a log of the latest
call, redials by itself when asked to, shows the line's speed and byte
counters, and lives in the system tray while connected.

It dials a real modem (USB, serial or internal) with the modem's own AT
commands and hands the line to pppd, or a simulated dial-up line that
answers, refuses or drops calls as its phonebook entry says, so that it
can be tried without a modem. The vantelo-line command works the same
lines from a terminal.]])
# The postinst gives pppd's options file to the dip group; with a postrm of
# its own, cpack adds no ldconfig call for the private sound module (there is
# nothing for ldconfig to do: the module is loaded by its path).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VANTELO_DEBIAN_DIR}/conffiles
    ${VANTELO_DEBIAN_DIR}/postinst ${VANTELO_DEBIAN_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Run on the staged files before they are packed. Files in a .deb carry the
# ordinary modes: the peers file is packed readable by all (it holds no
# secret), and the postinst gives it to the dip group with mode 0640 as soon
# as the package is configured. The compilers' notes (.comment) leave the
# programs and the module, as Debian's own packages are stripped.
if(NOT WIN32)
    set(pre_build ${CMAKE_BINARY_DIR}/CPackPreBuild.cmake)
    file(WRITE ${pre_build} [[
set(root "${CPACK_TEMPORARY_DIRECTORY}")
set(peers "${root}/etc/ppp/peers/vantelo")
if(NOT EXISTS "${peers}")
    message(FATAL_ERROR "The staged package has no ${peers}")
endif()
file(CHMOD "${peers}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

find_program(objcopy objcopy REQUIRED)
file(GLOB_RECURSE binaries "${root}/usr/bin/*" "${root}/usr/libexec/*" "${root}/usr/lib/*.so")
foreach(binary IN LISTS binaries)
    file(READ "${binary}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(COMMAND ${objcopy} --remove-section=.comment "${binary}"
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
]])
    set(CPACK_PRE_BUILD_SCRIPTS ${pre_build})

    # Run on the packages once built. CPack 3.25 lists the .ddeb's files in
    # its md5sums by their absolute paths in the staging folder, which
    # `dpkg --verify` then reports missing: the .ddeb is packed again with
    # paths relative to its root, as in the .deb.
    set(post_build ${CMAKE_BINARY_DIR}/CPackPostBuild.cmake)
    file(WRITE ${post_build} [[
find_program(dpkg_deb dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.ddeb$")
        continue()
    endif()
    set(tree "${CPACK_TOPLEVEL_DIRECTORY}/ddeb-repack")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND ${dpkg_deb} --raw-extract "${package}" "${tree}"
                    COMMAND_ERROR_IS_FATAL ANY)
    file(READ "${tree}/DEBIAN/md5sums" sums)
    if(NOT sums MATCHES "  /")
        continue()
    endif()
    string(REGEX REPLACE "  /[^\n]*-dbgsym/" "  " sums "${sums}")
    file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
    execute_process(COMMAND ${dpkg_deb} -Zgzip --root-owner-group --build "${tree}" "${package}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
]])
    set(CPACK_POST_BUILD_SCRIPTS ${post_build})
endif()
# The programs' debugging symbols go to vantelo-dbgsym_VERSION_ARCH.ddeb and
# the programs in the .deb are stripped (by cpack, which needs them unstripped
# to extract the symbols: so no CPACK_STRIP_FILES).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
include(CPack)
