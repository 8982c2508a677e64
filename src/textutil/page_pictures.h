#pragma once
// Pictures of a web page carried into the document: LibreOffice only links the
// pictures of a page it imports, so a converted document would point at files in a
// scratch folder, or at the web. Pictures the page's own folder holds (or a web
// archive carries) are written into the page as data: addresses instead; remote ones
// stay links and are never fetched.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumatra::textutil {

/// A picture's bytes for the address of an <img> element, or none to leave it as it is.
using PictureSource = std::function<std::optional<std::string>(std::string_view address)>;

/// `html` with the src of every <img> element that `source` knows replaced by a data:
/// address. At most 64 MiB of pictures are carried.
std::string inlinePictures(std::string_view html, const PictureSource& source);

/// The MIME type of a picture by its first bytes (PNG, JPEG, GIF, WebP, BMP, SVG), or
/// none when the bytes are no picture of these kinds.
std::optional<std::string> pictureType(std::string_view bytes);

/// Pictures below `folder` by relative addresses ("img/a.png", "b%20c.jpg"); addresses
/// with a scheme, an absolute path or a ".." step, paths through a symbolic link, files
/// that are not regular, larger than 16 MiB or not pictures give none.
PictureSource folderPictures(const std::filesystem::path& folder);

} // namespace lumatra::textutil
