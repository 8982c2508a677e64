# Images: libvips (with its ImageMagick loader for BMP, PSD and TGA), LibRaw for camera RAW,
# libheif for HEIC and AVIF, cairo for PDF pages, librsvg (the one libvips uses) and zlib
# for SVG drawings with filters, libtiff (the one libvips uses) for EXIF in TIFF files.
# Global, so that the tests can make their fixtures with the same libraries.
lumatra_family_module(LumatraImage image)
pkg_check_modules(IMAGE REQUIRED IMPORTED_TARGET GLOBAL vips-cpp libraw_r libheif cairo
    cairo-pdf zlib librsvg-2.0 libtiff-4)
target_link_libraries(LumatraImage PRIVATE PkgConfig::IMAGE)
