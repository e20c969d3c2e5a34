# The Debian package vardek-control: the window, its desktop entry and icon, the board
# simulator and the probe. The dependencies on shared libraries come from dpkg-shlibdeps, so they
# follow what the binaries really link; the Qt platform plugins and the Japanese font are loaded
# at run time and named explicitly.
set(VARDEK_PACKAGE_MAINTAINER "vardek-control maintainers <maintainers@vardek-control.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vardek-control)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARDEK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "VARDEK_Control switches the output pins of a network-attached VARDEK
board, shows its inputs, reads its analogue channels and shows the raw
bytes of every reply, over the board's UDP protocol on port 10001.
vardek-board-sim answers that protocol on the local machine, for trying
the panel out without a board. vardek-probe sends the board's requests
from a terminal or a script and prints the replies, as text or JSON.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic")

include(CPack)
