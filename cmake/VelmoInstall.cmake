# What `make package` puts into the Debian package: the program, its desktop
# launcher, hicolor icons drawn by the program's own --render-icon mode, the
# AppStream metainfo and the man page. CPack makes the .deb; dpkg-shlibdeps
# computes the library dependencies.
include(GNUInstallDirs)

set(VELMO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VELMO_METAINFO_ID ai.velmo.VelmoUsage)

install(TARGETS velmo-usage RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VELMO_PACKAGING_DIR}/velmo-usage.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

configure_file(${VELMO_PACKAGING_DIR}/${VELMO_METAINFO_ID}.metainfo.xml
  ${PROJECT_BINARY_DIR}/packaging/${VELMO_METAINFO_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/${VELMO_METAINFO_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian keeps man pages compressed (without a time stamp, so builds repeat).
configure_file(${VELMO_PACKAGING_DIR}/velmo-usage.1 ${PROJECT_BINARY_DIR}/packaging/velmo-usage.1 @ONLY)
find_program(VELMO_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/velmo-usage.1.gz
  COMMAND ${VELMO_GZIP} -9nf -k ${PROJECT_BINARY_DIR}/packaging/velmo-usage.1
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/velmo-usage.1)
add_custom_target(velmo_manpage ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/velmo-usage.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/velmo-usage.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The icons are drawn when installing, by the program just built. Each hicolor
# size takes the render whose pixels match it (icon_32x32@2x.png is 64 px).
set(VELMO_ICON_SIZES "16:icon_16x16.png;32:icon_32x32.png;64:icon_32x32@2x.png;128:icon_128x128.png;256:icon_256x256.png;512:icon_512x512.png")
install(CODE "
  set(icons \"${PROJECT_BINARY_DIR}/packaging/icons\")
  file(REMOVE_RECURSE \"\${icons}\")
  execute_process(COMMAND \"$<TARGET_FILE:velmo-usage>\" --render-icon \"\${icons}\"
    RESULT_VARIABLE rendered OUTPUT_QUIET)
  if(NOT rendered EQUAL 0)
    message(FATAL_ERROR \"velmo-usage --render-icon failed: \${rendered}\")
  endif()
  foreach(entry ${VELMO_ICON_SIZES})
    string(REPLACE \":\" \";\" parts \"\${entry}\")
    list(GET parts 0 size)
    list(GET parts 1 file)
    file(INSTALL \"\${icons}/\${file}\" DESTINATION
      \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/icons/hicolor/\${size}x\${size}/apps\"
      RENAME velmo-usage.png)
  endforeach()
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmo-usage)
set(CPACK_PACKAGE_VENDOR Velmo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmo <support@velmo.ai>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velmo AI API credit balance and usage in the tray")
set(CPACK_PACKAGE_DESCRIPTION "Shows the credit balance and the last 30 days of API usage of a Velmo \
account in a tray icon and a drop-down panel, kept fresh in the background, with a desktop notification when the \
balance runs low. Also a waybar module and a plain-text mode for status bars and terminals.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://console.velmo.ai)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The QML modules are loaded at run time, so dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qml6-module-qtqml, qml6-module-qtqml-workerscript, qml6-module-qtquick, \
qml6-module-qtquick-controls, qml6-module-qtquick-layouts, qml6-module-qtquick-templates, \
qml6-module-qtquick-window, qml6-module-qtquick-shapes")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
# Sessions are kept in the keyring where one runs, else in a private file.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gnome-keyring)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
