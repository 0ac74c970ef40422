# Installing the three programs with what a Linux desktop expects, and the
# Debian package (tools/package). Tests, test doubles and benchmarks have no
# install rules and stay out.

include(GNUInstallDirs)

set(_programs vornrt8 rt8ctl rt8sim)
if(VORNRT8_GATEWAY)
  list(APPEND _programs rt8gw)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(_data ${PROJECT_SOURCE_DIR}/data)
install(FILES ${_data}/org.vornrt8.VornRT8.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_data}/org.vornrt8.VornRT8.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_data}/icons/vornrt8.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${_data}/icons/vornrt8-48.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME vornrt8.png)
install(FILES ${_data}/icons/vornrt8-256.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME vornrt8.png)

# Manual pages and the Debian changelog, compressed as Debian wants them
# (gzip -n: no name or time stamp, so the same sources give the same bytes).
find_program(VORN_GZIP gzip REQUIRED)
set(_gz_outputs)
foreach(_page ${_programs})
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/man/${_page}.1.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${VORN_GZIP} -9nc ${_data}/man/${_page}.1 > ${_out}
    DEPENDS ${_data}/man/${_page}.1 VERBATIM)
  list(APPEND _gz_outputs ${_out})
  install(FILES ${_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(_changelog ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.Debian.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/doc
  COMMAND ${VORN_GZIP} -9nc ${_data}/debian/changelog > ${_changelog}
  DEPENDS ${_data}/debian/changelog VERBATIM)
list(APPEND _gz_outputs ${_changelog})
add_custom_target(vornrt8_compressed_docs ALL DEPENDS ${_gz_outputs})

set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/vornrt8)
install(FILES ${_data}/debian/copyright ${_data}/debian/README.Debian ${_changelog} DESTINATION ${_docdir})

# The gateway's systemd unit (its configuration, /etc/vornrt8/rt8gw.json, is
# the site's; an example lies with the documents).
if(VORNRT8_GATEWAY)
  install(FILES ${_data}/rt8gw.service DESTINATION lib/systemd/system)
  install(FILES ${_data}/rt8gw.json.example DESTINATION ${_docdir})
endif()

# ---------------------------------------------------------------- Debian package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornrt8)
set(CPACK_PACKAGE_VENDOR "VornRT8 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VornRT8 developers <vornrt8@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure and service the RT8 measuring device over a serial line")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VornRT8 developers <vornrt8@example.org>")
# Depends from the libraries actually linked (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Fonts the window's Chinese captions need, and the platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The long description; CPack puts the summary first and indents the rest.
set(CPACK_PACKAGE_DESCRIPTION "VornRT8 is the tool a field technician uses at the cabinet to configure and
service the RT8 measuring device over a serial line (RS-232 or RS-485,
38400 baud): find the device and change its number, edit the ten-channel
parameter table, download it and read it back, keep it in .RTX files, watch
live raw or scaled values, calibrate a channel from two live readings, drive
the LED display and set the device clock.

The window has a line monitor that tells what every frame means and why a
reply was dropped, a trend of the ten channels, recording of live values to
CSV, and reopens a pulled adapter by itself. rt8ctl does the same from
scripts and production lines; rt8gw publishes the live values of many
devices to an MQTT broker (systemd unit rt8gw.service); rt8sim simulates
the device on a pseudo-terminal for training.

License: MIT.")
include(CPack)
