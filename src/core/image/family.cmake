# Images: libvips (with its ImageMagick loader and saver for BMP, PSD and TGA), LibRaw for
# camera RAW, libheif for HEIC and AVIF, cairo for PDF pages.
pkg_check_modules(IMAGE REQUIRED IMPORTED_TARGET vips-cpp libraw_r libheif cairo cairo-pdf)
# Public, so that the tests can make their fixtures with libvips too.
target_link_libraries(ConvertCore PUBLIC PkgConfig::IMAGE)
