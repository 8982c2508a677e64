# Packaging of the application with CPack: `cpack --config build/CPackConfig.cmake`
# (or `cd build && cpack`) writes lumatra_<version>_<arch>.deb.
include(GNUInstallDirs)

# The text-document converter, where one is built, goes beside the executable (here,
# after every folder has defined its targets).
if(TARGET lumatra-textutil)
    set_target_properties(lumatra-textutil PROPERTIES INSTALL_RPATH "${LUMATRA_EXECUTABLE_RPATH}")
    install(TARGETS lumatra-textutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The Debian package: shared libraries found by dpkg-shlibdeps, plus the programs, QML
# modules, fonts and sounds that are loaded at run time.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumatra)
set(CPACK_PACKAGE_VENDOR Lumatra)
set(CPACK_PACKAGE_CONTACT "Lumatra <lumatra@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Offline converter of music, video, photos, documents and data")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg, libreoffice-writer | libreoffice-writer-nogui, shared-mime-info, \
qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts, \
qml6-module-qtquick-templates, qml6-module-qtquick-window, qml6-module-qtquick-shapes, \
qml6-module-qtquick-dialogs, qml6-module-qtqml-workerscript, \
qml6-module-qt-labs-folderlistmodel, qt6-translations-l10n, libqt6svg6, \
qt6-xdgdesktopportal-platformtheme, fonts-material-design-icons-iconfont, \
fonts-dejavu-core, fonts-noto-cjk, sound-theme-freedesktop")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-inter")
# GNOME Files shows «Конвертировать в» through its Python extensions; the other file
# managers read plain files.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus")
include(CPack)
