#pragma once
// Pictures of a Markdown document carried into its page. A Markdown file names its
// pictures by path; once the page is rendered into the scratch folder, no relative path
// leads there any more. Pictures the document's own folder holds become data: addresses
// in the page; anything else is never read or fetched by us.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumatra::MarkdownPictures {

/// Pictures larger than this are left out.
inline constexpr std::size_t maxPictureBytes = std::size_t{16} << 20;
/// Pictures claiming more pixels than this are left out (a likely decompression bomb).
inline constexpr std::uint64_t maxPixels = 100'000'000;
/// At most this much of pictures goes into one page; later ones are left out.
inline constexpr std::size_t maxTotalBytes = std::size_t{64} << 20;

/// What becomes of a picture that is not embedded.
enum class Unembedded {
    altText,          ///< every one gives way to its alt text
    localAddressKept, ///< a local address (no scheme, no host) stays as written
};

/// `html` (a rendered page) with the src of every <img> element whose address is a
/// relative path to a picture in `folder` or below replaced by a data: address of the
/// whole file. What is refused (remote addresses, absolute paths, paths leaving the
/// folder, paths through a symbolic link, missing files, files that are not pictures
/// (PNG, JPEG, GIF, WebP, BMP) and pictures over the limits of bytes or pixels) gives way
/// to its alt text, or with `localAddressKept` keeps a local address, which a reader of
/// the page resolves as it resolves the document's relative links. A remote address is
/// never kept.
std::string embed(std::string_view html, const std::filesystem::path& folder,
                  Unembedded unembedded = Unembedded::altText);

/// The picture at `address` (as written in the page: entities and %XX escapes allowed)
/// below `folder`, read without following any symbolic link; none as embed refuses it.
std::optional<std::string> readPicture(std::string_view address,
                                       const std::filesystem::path& folder);

/// The MIME type of a picture by its first bytes, or none.
std::optional<std::string> pictureType(std::string_view bytes);

/// The pixel count a picture's header claims (width × height), or none when the header
/// cannot be read.
std::optional<std::uint64_t> pictureArea(std::string_view bytes);

} // namespace lumatra::MarkdownPictures
