# The media probe reads containers in process with libavformat, whose codec libraries
# are the largest part of a start: a module of its own.
lumatra_family_module(LumatraMedia media)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(LumatraMedia PRIVATE PkgConfig::LIBAV)
