#pragma once
// A photograph's IPTC description where today's readers look for it: as XMP (the IPTC
// Core properties of Dublin Core, Photoshop and IPTC), merged into the XMP the photograph
// already has. Also finds the IPTC that some programs append to a JPEG file in an AFCP
// trailer instead of storing it in the file's APP13 segment.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace lumatra::IptcXmp {

/// An XMP packet holding the IPTC Core fields of the IIM stream `iim` (caption, keywords,
/// by-line, copyright, title, headline, credit, source, city, state, country…), with
/// `sourceXmp`, the XMP the source already carries, kept: what it says wins, and the
/// fields it lacks are added to it. Texts are UTF-8 when the stream says so or is valid
/// UTF-8, Latin-1 otherwise. Returns `sourceXmp` unchanged when there is nothing to add
/// (or it cannot be added to), and an empty text when there is nothing at all. Reads a
/// damaged stream up to its damage; never fails.
std::string mergedXmp(std::string_view iim, std::string_view sourceXmp);

/// Reads `count` bytes at `offset` of the file; fewer (or none) at its end.
using ReadAt = std::function<std::string(std::uint64_t offset, std::size_t count)>;

/// The IIM stream of the AFCP trailer at the end of a file of `fileSize` bytes, or an
/// empty text when it has none (or a damaged one). Reads at most a megabyte.
std::string afcpIptc(const ReadAt& read, std::uint64_t fileSize);

/// The IIM stream as a JPEG APP13 payload: "Photoshop 3.0", then one image resource
/// (IPTC, 0x0404) holding it.
std::string photoshopBlock(std::string_view iim);

} // namespace lumatra::IptcXmp
