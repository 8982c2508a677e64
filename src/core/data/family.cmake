# XML property lists are read with libxml2's streaming reader; binary ones and every
# output are our own code.
pkg_check_modules(LIBXML REQUIRED IMPORTED_TARGET libxml-2.0)
target_link_libraries(ConvertCore PRIVATE PkgConfig::LIBXML)
