# `make package`: a Debian package of everything `cmake --install` installs.
# dpkg-shlibdeps works out the run-time libraries (libopenbabel7 and the
# C++ run-time among them) from the installed programs, so that
# `apt-get install ./korven_*.deb` pulls in what korvenkit needs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korven)
set(CPACK_PACKAGE_VENDOR "The KORVEN developers")
set(CPACK_PACKAGE_CONTACT "KORVEN developers <korven@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_INSTALL_DIRECTORY korven)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "korven reads a deck of 80-column cards and lists the B matrix, the G matrix\n"
    "and the symmetrized G matrix of molecular vibrations in fixed columns;\n"
    "korvenkit writes decks from geometry files, checks them, and gives harmonic\n"
    "frequencies, isotope shifts and potential-energy distributions.")
include(CPack)
