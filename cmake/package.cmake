# `make deb`: a Debian package of the installed tree through CPack's DEB
# generator. Runtime dependencies come from the shared libraries the
# binaries actually link (dpkg-shlibdeps).
option(TESSARON_DEBIAN_LAYOUT "Install the Debian copyright and changelog files" OFF)
set(TESSARON_DEB_MAINTAINER "Tessaron developers <tessaron@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

if(TESSARON_DEBIAN_LAYOUT)
    string(TIMESTAMP TESSARON_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    configure_file(${CMAKE_SOURCE_DIR}/data/debian/changelog.in
                   ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
        COMMAND sh -c "gzip -9n < changelog.Debian > changelog.Debian.gz"
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian
        DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian
        VERBATIM)
    add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
    install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright
                  ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DOCDIR})

    # Everything under /etc is the administrator's once installed.
    set(conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/tessaron\n"
                  "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/tessaron-ui\n"
                  "${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d/tessaron\n")
    if(TARGET tessaron-producer)
        list(APPEND conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/tessaron-producer\n")
    endif()
    string(CONCAT conffiles ${conffiles})
    file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "${conffiles}")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaron)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TESSARON_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Card control runs iwconfig and ifconfig; without a card (replay, a remote
# producer) neither is needed.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wireless-tools, net-tools")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "logrotate")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "names the non-Wi-Fi radios of the 2.4 GHz band
Tessaron reads the FFT spectral-scan samples of a Wi-Fi card and names the
non-Wi-Fi transmitters it hears: Bluetooth voice and data links, FHSS
cordless phones, game-console controllers, Zigbee, microwave ovens, analog
cordless phones, video senders and unknown high-duty emitters, with where in
the band they sit and since when.
.
The package holds the daemon, its live web page, a simulator of RF
scenarios with a scorer, and hardened systemd units.")
include(CPack)

# `make android`: what a phone runs, statically linked by the caller.
add_custom_target(phone)
add_dependencies(phone tessaron)
if(TARGET tessaron-producer)
    add_dependencies(phone tessaron-producer)
endif()
