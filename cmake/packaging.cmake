# A Debian package of the three programs (cpack -G DEB in the build folder).
# Library dependencies come from dpkg-shlibdeps (dpkg-dev); the window also
# needs Qt's platform plugins, which no binary links to.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvor-manager)
set(CPACK_PACKAGE_VENDOR Veltrano)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Meter management tool for networked power-metering hub units")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Finds Talvor and Orvane hub units on the network, shows their details and\n"
       "administers them in batches: firmware, configuration, CT type tables,\n"
       "customization, TLS certificates, restart and SD-card erase. With the\n"
       "command-line front end talvorctl and the unit simulator talvor-hubsim.")
set(CPACK_PACKAGE_CONTACT "Talvor Manager maintainers <talvor-manager@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veltrano.example/")
# Debian's own paths, and the modes its checks expect whatever the umask of
# the machine that builds the package.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
