// Linked into the executables of sanitizer builds only.
//
// Qt keeps a few caches for the life of the process and never frees them at exit (the
// QML pixmap cache, the scene graph's textures of images, fontconfig's tables); they are
// not our leaks. Full stacks are needed for the suppressions to see those frames. cairo
// 1.16 loses 768 bytes when it subsets a CJK OpenType font into a PDF; its library has
// no symbols, so only the whole library can be named. x265 3.5, which libheif encodes HEIC
// with, keeps about a kilobyte per encoder it opens even after libheif closes it (a test
// that calls libheif directly shows the same).

#ifdef LUMATRA_HOSTS_OFFICE
// The text converter hosts the office engine, which allocates without end: a full stack
// for every allocation would slow a conversion past its time limit.
extern "C" const char* __asan_default_options() { return ""; }
#else
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif

// GLib, libvips and Qt are not built with the thread sanitizer: their own locks are
// futexes it cannot see, so the memory they hand between their threads (libvips workers,
// Qt's D-Bus thread) looks raced. Only what our instrumented code does is checked. The
// text converter loads the office engine into a child it forks, where the engine starts
// threads of its own: the sanitizer would end that child rather than follow it.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1 die_after_fork=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:QQuickPixmap\n"
           "leak:QImageIOHandler::allocateImage\n"
           "leak:libfontconfig.so\n"
           "leak:libcairo.so\n"
           "leak:libx265.so\n"
           "leak:QSGRenderContext::textureForFactory\n"
           "leak:QQuickImage::updatePaintNode\n";
}
