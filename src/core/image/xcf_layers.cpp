#include "image/xcf_layers.h"

#include <algorithm>
#include <string_view>

namespace lumatra::Xcf {
namespace {

// Property types of the format that the directory needs.
enum : std::uint32_t {
    propEnd = 0,
    propColormap = 1,
    propOpacity = 6,
    propVisible = 8,
    propOffsets = 15,
    propItemPath = 30,
};

// Property lists longer than this are taken for damage rather than read on.
constexpr int maxProperties = 4096;

// Reads big-endian words from a position that moves forward; any read past the end of
// the file makes the cursor fail for good.
class Cursor {
public:
    Cursor(const ReadAt& read, std::uint64_t at) : m_read(read), m_at(at) {}

    std::uint32_t u32() {
        const std::string bytes = m_failed ? std::string() : m_read(m_at, 4);
        if (bytes.size() != 4) {
            m_failed = true;
            return 0;
        }
        m_at += 4;
        std::uint32_t value = 0;
        for (const char c : bytes)
            value = value << 8 | static_cast<std::uint8_t>(c);
        return value;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    void skip(std::uint64_t count) { m_at += count; }
    void seek(std::uint64_t at) { m_at = at; }
    std::uint64_t position() const { return m_at; }
    bool failed() const { return m_failed; }

private:
    const ReadAt& m_read;
    std::uint64_t m_at;
    bool m_failed = false;
};

std::optional<Layer> readLayer(const ReadAt& read, std::uint64_t at, const Image& image) {
    Cursor cursor(read, at);
    Layer layer;
    layer.width = cursor.u32();
    layer.height = cursor.u32();
    cursor.u32();              // type
    cursor.skip(cursor.u32()); // name, its length first
    if (cursor.failed() || layer.width == 0 || layer.height == 0 || layer.width > image.width ||
        layer.height > image.height)
        return std::nullopt;
    for (int i = 0; i < maxProperties; ++i) {
        const std::uint32_t type = cursor.u32();
        const std::uint32_t size = cursor.u32();
        if (cursor.failed()) return std::nullopt;
        const std::uint64_t next = cursor.position() + size;
        switch (type) {
        case propEnd:
            return layer;
        case propOpacity:
            layer.opacity = std::min<std::uint32_t>(cursor.u32(), 255);
            break;
        case propVisible:
            layer.visible = cursor.u32() != 0;
            break;
        case propOffsets:
            layer.x = cursor.i32();
            layer.y = cursor.i32();
            break;
        case propItemPath:
            layer.inGroup = true;
            break;
        default:
            break;
        }
        if (cursor.failed()) return std::nullopt;
        cursor.seek(next);
    }
    return std::nullopt;
}

} // namespace

std::optional<Image> readLayers(const ReadAt& read) {
    const std::string magic = read(0, 14);
    if (magic.size() != 14 || std::string_view(magic).substr(0, 9) != "gimp xcf " ||
        magic[13] != '\0')
        return std::nullopt;
    const std::string_view version = std::string_view(magic).substr(9, 4);
    if (version != "file" && version != "v001" && version != "v002" && version != "v003")
        return std::nullopt;
    Cursor cursor(read, 14);
    Image image;
    image.width = cursor.u32();
    image.height = cursor.u32();
    const std::uint32_t base = cursor.u32(); // 0 RGB, 1 grey, 2 indexed
    if (cursor.failed() || image.width == 0 || image.height == 0 || base > 1) return std::nullopt;
    bool ended = false;
    for (int i = 0; i < maxProperties && !ended; ++i) {
        const std::uint32_t type = cursor.u32();
        const std::uint32_t size = cursor.u32();
        if (cursor.failed()) return std::nullopt;
        if (type == propEnd)
            ended = true;
        else if (type == propColormap)
            return std::nullopt; // indexed colours only
        else
            cursor.skip(size);
    }
    if (!ended) return std::nullopt;
    for (;;) {
        const std::uint32_t offset = cursor.u32();
        if (cursor.failed()) return std::nullopt;
        if (offset == 0) break;
        if (image.layers.size() == maxLayers) return std::nullopt;
        const std::optional<Layer> layer = readLayer(read, offset, image);
        if (!layer) return std::nullopt;
        image.layers.push_back(*layer);
    }
    if (image.layers.empty()) return std::nullopt;
    return image;
}

} // namespace lumatra::Xcf
