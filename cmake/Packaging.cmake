# Installation of the shared pieces and the Debian package.
#
# Layout under the install prefix:
#   bin/orvane, bin/orvaned             the host and the control service (RPATH $ORIGIN/../lib)
#   lib/libOrvanePlatform.so            the platform library (private to these programs)
#   lib/systemd/system/orvaned.service  the service unit
# and under the root (ORVANE_ROOT_INSTALL_DIR, see the top-level CMakeLists.txt):
#   Library/PreferenceBundles/OrvanePrefs.bundle   the plugin with its resources
#   Library/LaunchDaemons, System/Library/LaunchDaemons, var/mobile/Media   (empty)
#
# With the default root "/" the root is the install prefix itself, so
#   cmake --install build --prefix DIR && ORVANE_ROOT=DIR DIR/bin/orvane
# works. A package gets a root of its own, compiled in:
#   cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr -DORVANE_DEFAULT_ROOT=/var/lib/orvane
#   cmake --build build-deb && (cd build-deb && cpack -G DEB)
install(TARGETS orvane_platform LIBRARY DESTINATION lib)
install(TARGETS OrvanePrefs LIBRARY DESTINATION ${ORVANE_BUNDLE_INSTALL_DIR})
foreach(dir Library/LaunchDaemons System/Library/LaunchDaemons var/mobile/Media)
  install(DIRECTORY DESTINATION ${ORVANE_ROOT_INSTALL_DIR}/${dir})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Orvane maintainers <orvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Settings page for supervised jobs, with its terminal host and control service")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Run-time dependencies come from the binaries themselves; the platform library ships inside
# the package and is resolved from the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_STRIP_FILES ON)
include(CPack)
