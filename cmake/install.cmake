# What `make install` puts where (DESTDIR and CMAKE_INSTALL_PREFIX honoured):
# the programs, the shipped signatures, the man pages built from docs/man,
# the systemd units with their /etc/default files, and the logrotate snippet.
# The web page installs with tessaron-ui (tools/tessaron_ui).
include(GNUInstallDirs)

option(TESSARON_MAN "Build the man pages from docs/man (needs scdoc)" ON)
# Debian 12 keeps units in /lib/systemd/system; `make deb` sets it so.
set(TESSARON_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd units go (relative to the prefix, or absolute)")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tessaron RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Tools that may not be in this tree yet install once they are.
foreach(tool tessaron-sim tessaron-score tessaron-producer tessaron-signature)
    if(TARGET ${tool})
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/signatures.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessaron)

# Man pages: docs/man/NAME.SECTION.scd, compressed as Debian wants them.
find_program(TESSARON_SCDOC scdoc)
if(TESSARON_MAN AND NOT TESSARON_SCDOC)
    message(STATUS "scdoc not found (Debian: scdoc): man pages not built")
elseif(TESSARON_MAN)
    file(GLOB TESSARON_MAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
    set(TESSARON_MAN_PAGES "")
    foreach(source ${TESSARON_MAN_SOURCES})
        get_filename_component(page ${source} NAME_WLE)  # NAME.SECTION
        string(REGEX MATCH "[0-9]$" section ${page})
        set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND sh -c "'${TESSARON_SCDOC}' < '${source}' | gzip -9n > '${output}'"
            DEPENDS ${source}
            COMMENT "Man page ${page}"
            VERBATIM)
        list(APPEND TESSARON_MAN_PAGES ${output})
        install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endforeach()
    add_custom_target(man ALL DEPENDS ${TESSARON_MAN_PAGES})
endif()

# Service files: paths filled in for this prefix.
set(TESSARON_UNITS tessaron.service tessaron-ui.service)
if(TARGET tessaron-producer)
    list(APPEND TESSARON_UNITS tessaron-producer@.service)
endif()
foreach(unit ${TESSARON_UNITS})
    configure_file(${CMAKE_SOURCE_DIR}/data/systemd/${unit}.in
                   ${CMAKE_BINARY_DIR}/systemd/${unit} @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/systemd/${unit} DESTINATION ${TESSARON_SYSTEMD_UNIT_DIR})
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/data/default/tessaron.in
               ${CMAKE_BINARY_DIR}/default/tessaron @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/default/tessaron ${CMAKE_SOURCE_DIR}/data/default/tessaron-ui
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default)
if(TARGET tessaron-producer)
    install(FILES ${CMAKE_SOURCE_DIR}/data/default/tessaron-producer
            DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/data/logrotate/tessaron
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d)
