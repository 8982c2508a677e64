#include "document/markdown_pictures.h"

#include "data/plist_bridge.h"
#include "document/markdown.h"
#include "document/markdown_text.h"
#include "text/ascii.h"
#include "tools/read_to_end.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <vector>

namespace lumatra::MarkdownPictures {
namespace {

using ascii::hexValue;
using ascii::isSpace;
using ascii::lower;

// An attribute value as the page means it: entities and %XX escapes undone.
std::string decoded(std::string_view value, bool percent) {
    static constexpr std::pair<std::string_view, char> entities[] = {
        {"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&#39;", '\''}};
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        bool entity = false;
        for (const auto& [name, c] : entities)
            if (value.substr(i, name.size()) == name) {
                text += c;
                i += name.size() - 1;
                entity = true;
                break;
            }
        if (entity) continue;
        if (percent && value[i] == '%' && i + 2 < value.size() && hexValue(value[i + 1]) >= 0 &&
            hexValue(value[i + 2]) >= 0) {
            text += static_cast<char>(hexValue(value[i + 1]) * 16 + hexValue(value[i + 2]));
            i += 2;
        } else {
            text += value[i];
        }
    }
    return text;
}

struct Attribute {
    std::string_view name;
    std::size_t valueStart = 0; // within the tag
    std::size_t valueLength = 0;
};

// The attributes of the tag `tag` ("<img …>").
std::vector<Attribute> attributes(std::string_view tag) {
    std::vector<Attribute> found;
    std::size_t at = 4;
    while (at < tag.size()) {
        while (at < tag.size() && (isSpace(tag[at]) || tag[at] == '/'))
            ++at;
        const std::size_t name = at;
        while (at < tag.size() && !isSpace(tag[at]) && tag[at] != '=' && tag[at] != '>' &&
               tag[at] != '/')
            ++at;
        if (at == name) break;
        Attribute attribute{tag.substr(name, at - name)};
        while (at < tag.size() && isSpace(tag[at]))
            ++at;
        if (at < tag.size() && tag[at] == '=') {
            ++at;
            while (at < tag.size() && isSpace(tag[at]))
                ++at;
            if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
                const std::size_t close = tag.find(tag[at], at + 1);
                const std::size_t stop = close == std::string_view::npos ? tag.size() : close;
                attribute.valueStart = at + 1;
                attribute.valueLength = stop - at - 1;
                at = stop + 1;
            } else {
                const std::size_t start = at;
                while (at < tag.size() && !isSpace(tag[at]) && tag[at] != '>')
                    ++at;
                attribute.valueStart = start;
                attribute.valueLength = at - start;
            }
        }
        found.push_back(attribute);
    }
    return found;
}

// An address a reader of the page resolves without leaving the machine: no scheme and no
// host, however written ("//host", "\\host" and "/\\host" name a host).
bool isLocalAddress(std::string_view address) {
    std::string kept;
    for (const char c : address)
        if (static_cast<unsigned char>(c) > ' ') kept += c; // readers skip these
    if (kept.empty()) return false;
    if (kept.size() > 1 && (kept[0] == '/' || kept[0] == '\\') &&
        (kept[1] == '/' || kept[1] == '\\'))
        return false;
    const auto scheme = kept.find(':');
    return scheme == std::string::npos || scheme > kept.find_first_of("/?#");
}

bool sameName(std::string_view name, std::string_view wanted) {
    if (name.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (lower(name[i]) != wanted[i]) return false;
    return true;
}

} // namespace

std::optional<std::string> pictureType(std::string_view bytes) {
    if (bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n") return "image/png";
    if (bytes.substr(0, 3) == "\xFF\xD8\xFF") return "image/jpeg";
    if (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a") return "image/gif";
    if (bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WEBP") return "image/webp";
    if (bytes.substr(0, 2) == "BM") return "image/bmp";
    return std::nullopt;
}

std::optional<std::uint64_t> pictureArea(std::string_view bytes) {
    const auto at = [&](std::size_t i) -> std::uint64_t {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    };
    const auto big16 = [&](std::size_t i) { return at(i) << 8 | at(i + 1); };
    const auto big32 = [&](std::size_t i) { return big16(i) << 16 | big16(i + 2); };
    const auto little16 = [&](std::size_t i) { return at(i) | at(i + 1) << 8; };
    const auto little24 = [&](std::size_t i) { return little16(i) | at(i + 2) << 16; };
    const auto little32 = [&](std::size_t i) { return little16(i) | little16(i + 2) << 16; };
    const auto type = pictureType(bytes);
    if (!type) return std::nullopt;
    if (*type == "image/png") {
        if (bytes.size() < 24) return std::nullopt;
        return big32(16) * big32(20);
    }
    if (*type == "image/gif") {
        if (bytes.size() < 10) return std::nullopt;
        return little16(6) * little16(8);
    }
    if (*type == "image/bmp") {
        if (bytes.size() < 26) return std::nullopt;
        const auto height = static_cast<std::int32_t>(little32(22));
        const std::uint64_t rows =
            height < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(height))
                       : static_cast<std::uint64_t>(height);
        return little32(18) * rows;
    }
    if (*type == "image/webp") {
        const std::string_view chunk = bytes.substr(12, 4);
        if (chunk == "VP8X" && bytes.size() >= 30) return (little24(24) + 1) * (little24(27) + 1);
        if (chunk == "VP8 " && bytes.size() >= 30)
            return (little16(26) & 0x3FFF) * (little16(28) & 0x3FFF);
        if (chunk == "VP8L" && bytes.size() >= 25) {
            const std::uint64_t bits = little32(21);
            return ((bits & 0x3FFF) + 1) * (((bits >> 14) & 0x3FFF) + 1);
        }
        return std::nullopt;
    }
    // JPEG: the first start-of-frame segment holds the size.
    std::size_t i = 2;
    while (i + 8 < bytes.size()) {
        if (at(i) != 0xFF) return std::nullopt;
        const auto marker = at(i + 1);
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) return big16(i + 5) * big16(i + 7);
        i += 2 + big16(i + 2);
    }
    return std::nullopt;
}

std::optional<std::string> readPicture(std::string_view address,
                                       const std::filesystem::path& folder) {
    const std::string path = decoded(address, true);
    const auto scheme = path.find(':');
    if (path.empty() || path.front() == '/' || path.front() == '\\' ||
        (scheme != std::string::npos && scheme < path.find('/')) ||
        path.find('\0') != std::string::npos)
        return std::nullopt;
    const auto relative =
        std::filesystem::path(path.substr(0, path.find_first_of("?#"))).lexically_normal();
    std::vector<std::string> steps;
    for (const auto& step : relative) {
        const std::string name = step.string();
        if (name == ".." || name == "/") return std::nullopt;
        if (!name.empty() && name != ".") steps.push_back(name);
    }
    if (steps.empty()) return std::nullopt;
    UniqueFd at(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!at) return std::nullopt;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        UniqueFd next(
            ::openat(at.get(), steps[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) return std::nullopt;
        at = std::move(next);
    }
    const UniqueFd file(::openat(at.get(), steps.back().c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > maxPictureBytes)
        return std::nullopt;
    std::string bytes;
    if (readToEnd(file.get(), static_cast<std::size_t>(info.st_size), maxPictureBytes, bytes) != 0)
        return std::nullopt;
    const auto area = pictureArea(bytes);
    if (!area || *area == 0 || *area > maxPixels) return std::nullopt;
    return bytes;
}

std::string embed(std::string_view html, const std::filesystem::path& folder,
                  Unembedded unembedded) {
    std::string out;
    out.reserve(html.size());
    std::size_t copied = 0;
    std::size_t carried = 0;
    for (std::size_t at = html.find('<'); at != std::string_view::npos;
         at = html.find('<', at + 1)) {
        if (at + 4 >= html.size() || lower(html[at + 1]) != 'i' || lower(html[at + 2]) != 'm' ||
            lower(html[at + 3]) != 'g' || !isSpace(html[at + 4]))
            continue;
        const std::size_t end = html.find('>', at);
        if (end == std::string_view::npos) break;
        const std::string_view tag = html.substr(at, end + 1 - at);
        std::optional<Attribute> source;
        std::string alt;
        for (const auto& attribute : attributes(tag)) {
            const auto value = tag.substr(attribute.valueStart, attribute.valueLength);
            if (sameName(attribute.name, "src") && !source) source = attribute;
            if (sameName(attribute.name, "alt")) alt = decoded(value, false);
        }
        std::optional<std::string> picture;
        std::string address;
        if (source) {
            const auto written = tag.substr(source->valueStart, source->valueLength);
            picture = readPicture(written, folder);
            address = Markdown::resolvedReferences(written);
        }
        out.append(html.substr(copied, at - copied));
        if (picture && carried + picture->size() <= maxTotalBytes) {
            carried += picture->size();
            out.append(tag.substr(0, source->valueStart));
            out.append("data:").append(*pictureType(*picture)).append(";base64,");
            out.append(Plist::base64(*picture));
            out.append(tag.substr(source->valueStart + source->valueLength));
        } else if (source && unembedded == Unembedded::localAddressKept &&
                   isLocalAddress(address)) {
            // Written back with every reference escaped: what was checked is what is read.
            out.append(tag.substr(0, source->valueStart));
            Markdown::appendEscaped(out, address);
            out.append(tag.substr(source->valueStart + source->valueLength));
        } else {
            Markdown::appendEscaped(out, alt);
        }
        copied = end + 1;
        at = end;
    }
    out.append(html.substr(copied));
    return out;
}

} // namespace lumatra::MarkdownPictures
