# The Debian package. scripts/package.sh configures a release build and runs cpack, which leaves
# parlox_<version>_<architecture>.deb in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parlox)
set(CPACK_PACKAGE_VENDOR "Parlox team")
set(CPACK_PACKAGE_CONTACT "Parlox team <parlox@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://parlox.example.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "chat with people on your local network
Parlox is a small chat program for a local network. One window serves both
roles: host a chat room on a port of your computer, or join someone else's
room by address and port. A room holds the host and up to 32 people;
everybody sees a scrolling chat log and the list of names in the room.")
# The libraries come from dpkg-shlibdeps. The window's fonts are looked up by name, and the names it
# asks for resolve to Liberation Sans, or else DejaVu Sans. The window's icon is looked up in the
# hicolor theme, whose index comes with hicolor-icon-theme.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation | fonts-dejavu-core, hicolor-icon-theme")
# Finding rooms on the network talks to the Avahi daemon; without it the rest works, and the Rooms
# menu says what is missing. Building needs libavahi-client-dev (scripts/setup.sh installs it).
# Emoji show in colour with a colour emoji font, else in black and white.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, fonts-noto-color-emoji")
include(CPack)
