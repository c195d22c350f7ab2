# Installation, the manual pages and the Debian package.
#
# A default build installs everything under one root, the install prefix:
#   bin/orvane, bin/orvaned             the host and the control service (RUNPATH $ORIGIN/../lib)
#   lib/libOrvanePlatform.so            the platform library (private to these programs)
#   lib/orvaned-exec                    the job starter that orvaned spawns for each job
#   lib/systemd/system/orvaned.service  the service unit
#   Library/PreferenceBundles/OrvanePrefs.bundle   the plugin with its resources
#   Library/LaunchDaemons, System/Library/LaunchDaemons, var/mobile/Media   (empty)
# so that
#   cmake --install build --prefix DIR && ORVANE_ROOT=DIR DIR/bin/orvane
# works. The package (scripts/build-package) lays the same out by the file-system hierarchy,
# with the layout compiled in for when ORVANE_ROOT is not set:
#   /usr/bin/orvane, /usr/bin/orvaned             RUNPATH $ORIGIN/../lib/orvane
#   /usr/lib/orvane/libOrvanePlatform.so          ORVANE_LIBRARY_INSTALL_DIR
#   /usr/lib/orvane/orvaned-exec                  beside it
#   /usr/lib/orvane/OrvanePrefs.bundle            ORVANE_DEFAULT_BUNDLES_DIR
#   /var/lib/orvane/...                           ORVANE_DEFAULT_ROOT: job files, settings, media
#   /run/orvane/msgport.orvane.sock               ORVANE_DEFAULT_RUN_DIR (the unit's
#                                                 RuntimeDirectory=)
#   /usr/lib/systemd/system/orvaned.service, the manual pages, bash completion, copyright and
#   changelog under /usr/share
# and packaging/debian/ has its maintainer scripts.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(orvane_packaging ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS orvane_platform LIBRARY DESTINATION ${ORVANE_LIBRARY_INSTALL_DIR})
set_target_properties(orvane orvaned PROPERTIES INSTALL_RPATH "$ORIGIN/../${ORVANE_LIBRARY_INSTALL_DIR}")
install(TARGETS OrvanePrefs LIBRARY DESTINATION ${ORVANE_BUNDLE_INSTALL_DIR})
foreach(dir Library/LaunchDaemons System/Library/LaunchDaemons)
  install(DIRECTORY DESTINATION ${ORVANE_ROOT_INSTALL_DIR}/${dir})
endforeach()
# A package's postinst makes the directories the group orvane writes in; elsewhere they are
# installed like the rest.
if(ORVANE_ROOT_INSTALL_DIR STREQUAL .)
  install(DIRECTORY DESTINATION var/mobile/Media)
endif()
install(DIRECTORY ${orvane_packaging}/bash-completion/
  DESTINATION share/bash-completion/completions)

# The texts that name the files in force when ORVANE_ROOT is not set.
if(ORVANE_DEFAULT_ROOT STREQUAL "/")
  set(ORVANE_MAN_ROOT "")
else()
  set(ORVANE_MAN_ROOT ${ORVANE_DEFAULT_ROOT})
endif()
set(ORVANE_MAN_BUNDLE_DIR ${ORVANE_MAN_ROOT}/Library/PreferenceBundles/OrvanePrefs.bundle)
if(ORVANE_DEFAULT_BUNDLES_DIR)
  set(ORVANE_MAN_BUNDLE_DIR ${ORVANE_DEFAULT_BUNDLES_DIR}/OrvanePrefs.bundle)
endif()
set(ORVANE_MAN_STARTER ${CMAKE_INSTALL_PREFIX}/${ORVANE_LIBRARY_INSTALL_DIR}/orvaned-exec)
set(ORVANE_MAN_RUN_DIR ${ORVANE_MAN_ROOT}/var/run/orvane)
if(ORVANE_DEFAULT_RUN_DIR)
  set(ORVANE_MAN_RUN_DIR ${ORVANE_DEFAULT_RUN_DIR})
endif()

# Manual pages: written in scdoc, generated and compressed at build time (where scdoc is
# installed), and checked against the programs' --help by the tests.
find_program(SCDOC scdoc)
set(orvane_man_pages orvane.1 orvaned.8)
if(SCDOC)
  set(orvane_man_outputs)
  foreach(page ${orvane_man_pages})
    string(REGEX REPLACE ".*\\." "" section ${page})
    set(source ${CMAKE_BINARY_DIR}/man/${page}.scd)
    configure_file(${orvane_packaging}/${page}.scd ${source} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
      COMMAND sh -c "\"$0\" <\"$1\" >\"$2\"" ${SCDOC} ${source} ${CMAKE_BINARY_DIR}/man/${page}
      COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/${page}
      DEPENDS ${source} VERBATIM)
    list(APPEND orvane_man_outputs ${CMAKE_BINARY_DIR}/man/${page}.gz)
    install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION share/man/man${section})
  endforeach()
  add_custom_target(orvane_man_pages ALL DEPENDS ${orvane_man_outputs})
else()
  message(STATUS "scdoc not found: the manual pages are not built")
endif()
if(ORVANE_TESTS)
  foreach(page ${orvane_man_pages})
    string(REGEX REPLACE "\\..*" "" program ${page})
    add_test(NAME man_page_lists_the_options_of_${program}
      COMMAND ${orvane_packaging}/check-man-options $<TARGET_FILE:${program}>
              ${orvane_packaging}/${page}.scd)
  endforeach()
endif()

# Debian's changelog and copyright; the package's version is the changelog's newest.
file(STRINGS ${orvane_packaging}/changelog orvane_changelog_head LIMIT_COUNT 1)
if(NOT orvane_changelog_head MATCHES "^orvane \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog's newest entry is not version ${PROJECT_VERSION}")
endif()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND sh -c "gzip -9n <\"$0\" >\"$1\"" ${orvane_packaging}/changelog
          ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${orvane_packaging}/changelog VERBATIM)
add_custom_target(orvane_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${orvane_packaging}/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DESTINATION share/doc/orvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane developers")
set(CPACK_PACKAGE_CONTACT "Orvane developers <dev@orvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "terminal settings pages for starting and stopping services")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
Orvane lists the machine's systemd services with each one's description and
whether it runs, opens a page per service, and starts and stops services: it
refuses to stop protected ones (its own, the bus, the journal, logind) and asks
before stopping other system services. Users export their start/stop choices
to a file and import them again.

The package holds the host orvane, a terminal UI and a command line for
scripts, its settings bundle, and the control service orvaned, run as the
systemd service orvaned.service on the system manager, whose socket the
members of the group orvane may use.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies come from the binaries themselves; the platform library ships inside
# the package and is resolved from the build tree. postinst makes the group with addgroup.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# The service reaches the system manager over the system bus.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "default-dbus-system-bus | dbus-system-bus")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${orvane_packaging}/debian/postinst ${orvane_packaging}/debian/prerm
  ${orvane_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
