# Images: libvips (with its ImageMagick loader and saver for BMP, PSD and TGA), LibRaw for
# camera RAW, libheif for HEIC and AVIF, cairo for PDF pages. Global, so that the tests can
# make their fixtures with the same libraries.
lumatra_family_module(LumatraImage image)
pkg_check_modules(IMAGE REQUIRED IMPORTED_TARGET GLOBAL vips-cpp libraw_r libheif cairo cairo-pdf)
target_link_libraries(LumatraImage PRIVATE PkgConfig::IMAGE)
