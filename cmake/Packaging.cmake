# Installation (`cmake --install build --prefix DIR`) and the Debian package
# (`cpack --config build/CPackConfig.cmake`, or the `package` target).
#
# Project libraries are static, so the installed programs need only the
# system's shared libraries; dpkg-shlibdeps turns those into Depends. What is
# loaded at run time (GStreamer elements, the Qt platform plugin) is declared
# by hand.
include(GNUInstallDirs)

set(FRAMEWELL_TOOLS fwdump fwconvert fwrender fwecho fwstore fwfind fwgrab fwacquire)
install(TARGETS framewell ${FRAMEWELL_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/packaging/framewell.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/framewell.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The install marker: an installed station keeps its files in the XDG data
# folder even when it could write beside its executable (as root can). The
# station looks for it at <bindir>/../share/framewell/installed.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share")
  message(WARNING "The station finds its install marker only with bin/ and share/ side by side")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/packaging/installed
     "This station was installed: it keeps its files in $XDG_DATA_HOME/framewell/.\n")
install(FILES ${CMAKE_BINARY_DIR}/packaging/installed DESTINATION ${CMAKE_INSTALL_DATADIR}/framewell)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "framewell")
set(CPACK_PACKAGE_VENDOR "Framewell")
set(CPACK_PACKAGE_CONTACT "Framewell developers <framewell@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DICOM acquisition station for video sources")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows a video source live, takes stills and short clips for a patient chosen by hand or from the PACS or the worklist, and stores them as JPEG-compressed DICOM objects on the PACS. Includes command-line tools for support staff.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
