# The Debian package: `cpack -G DEB` in the build folder (scripts/package).
# Debian's own documents are a component of their own, which
# `cmake --install` leaves out.

# Compressed as Debian wants: at most, with no name or time stamp inside, so
# the same source packs the same bytes.
function(quillet_gzip source output)
    execute_process(COMMAND gzip -9n -c "${source}" OUTPUT_FILE "${output}"
        COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
endfunction()

quillet_gzip("${PROJECT_SOURCE_DIR}/data/quillet.1" "${CMAKE_BINARY_DIR}/quillet.1.gz")
install(FILES "${CMAKE_BINARY_DIR}/quillet.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(debian "${CMAKE_CURRENT_LIST_DIR}/debian")
file(STRINGS "${debian}/changelog" newest LIMIT_COUNT 1)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
if(NOT newest MATCHES "^quillet \\(${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not "
        "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
endif()
quillet_gzip("${debian}/changelog" "${CMAKE_BINARY_DIR}/changelog.Debian.gz")
install(FILES "${debian}/copyright" "${CMAKE_BINARY_DIR}/changelog.Debian.gz"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillet COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_CONTACT "Tarnwick <quillet@tarnwick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "paste a copied list one line per press of a shortcut")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillet helps with data entry from a list. Copy a block of lines, switch to\n"
    "any application and press one global shortcut once per field: each press\n"
    "pastes the next line and moves on. It sits in the system tray, keeps its\n"
    "place across restarts and works on X11 and on Wayland desktops (KDE\n"
    "Plasma, sway, Hyprland).")
list(JOIN CPACK_PACKAGE_DESCRIPTION "" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.example/Quillet/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its X11 and Wayland back ends as plugins, which no library pulls in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)
include(CPack)
