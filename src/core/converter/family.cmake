# The media probe reads containers in process with libavformat.
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavformat libavutil)
target_link_libraries(ConvertCore PRIVATE PkgConfig::LIBAV)
