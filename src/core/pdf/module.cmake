# PDF input with poppler, and page pictures encoded with libvips.
lumatra_family_module(LumatraPdf pdf)
pkg_check_modules(PDF_POPPLER REQUIRED IMPORTED_TARGET poppler-cpp)
pkg_check_modules(PDF_VIPS REQUIRED IMPORTED_TARGET vips-cpp)
target_link_libraries(LumatraPdf PRIVATE PkgConfig::PDF_POPPLER PkgConfig::PDF_VIPS)
