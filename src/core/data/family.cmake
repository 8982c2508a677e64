# Property lists are read with libplist (its C interface; the C++ wrapper does not
# link through pkg-config).
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
target_link_libraries(ConvertCore PRIVATE PkgConfig::PLIST)
