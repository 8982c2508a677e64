#include "support/image_fixtures.h"

#include "support/fixtures.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <stdexcept>

namespace lumatra::test {

namespace {

void le16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
}

// Starts libvips for the tests' own use.
void startTestVips() {
    static std::once_flag once;
    std::call_once(once, [] { vips_init("lumatra-tests"); });
}

} // namespace

std::string be32(std::initializer_list<unsigned> values) {
    std::string out;
    for (const unsigned value : values)
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>(value >> shift & 0xFF);
    return out;
}

std::string le32(std::initializer_list<unsigned> values) {
    std::string out;
    for (const unsigned value : values)
        for (int shift = 0; shift < 32; shift += 8)
            out += static_cast<char>(value >> shift & 0xFF);
    return out;
}

vips::VImage markedPicture(int width, int height, bool alpha) {
    startTestVips();
    using vips::VImage;
    const VImage xy = VImage::xyz(width, height);
    const VImage x = xy.extract_band(0);
    const VImage y = xy.extract_band(1);
    const int mark = std::min(width, height) / 4;
    const VImage inMark = (x < mark) & (y < mark);
    VImage picture =
        inMark.ifthenelse(std::vector<double>{255, 0, 0}, std::vector<double>{0, 0, 255})
            .cast(VIPS_FORMAT_UCHAR);
    if (alpha) {
        const VImage opaque = (x < width * 2 / 3).ifthenelse(255, 0).cast(VIPS_FORMAT_UCHAR);
        picture = picture.bandjoin(opaque);
    }
    picture = picture.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    return picture.copy_memory();
}

void exiftoolWrite(const std::filesystem::path& file, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"exiftool", "-q", "-overwrite_original"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(file.string());
    if (const auto run = runProgram(argv); run.status != 0)
        throw std::runtime_error("exiftool could not tag " + file.string() + ": " + run.err);
}

std::string xcfFile(int width, int height, const std::vector<XcfLayer>& layers) {
    const auto property = [](std::string& out, unsigned type, const std::string& payload) {
        out += be32({type, static_cast<unsigned>(payload.size())}) + payload;
    };
    std::string out("gimp xcf file\0", 14);
    out += be32({static_cast<unsigned>(width), static_cast<unsigned>(height), 0}); // RGB
    property(out, 17, std::string(1, '\1')); // run-length encoded tiles
    property(out, 0, "");
    const std::size_t pointers = out.size();
    out.append(4 * (layers.size() + 1) + 4, '\0'); // layer pointers, 0, no channels
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const XcfLayer& layer = layers[i];
        out.replace(pointers + 4 * i, 4, be32({static_cast<unsigned>(out.size())}));
        const auto w = static_cast<unsigned>(layer.width);
        const auto h = static_cast<unsigned>(layer.height);
        out += be32({w, h, 1, 2}) + std::string("L\0", 2); // RGBA, a name of two bytes
        property(out, 15, be32({static_cast<unsigned>(layer.x), static_cast<unsigned>(layer.y)}));
        property(out, 8, be32({layer.visible ? 1u : 0u}));
        property(out, 0, "");
        // No mask; the hierarchy (four bytes a pixel), then its one level, then the one
        // tile: each channel in runs of at most 127 pixels (a count byte of 127 would
        // announce a two-byte count).
        const auto hierarchy = static_cast<unsigned>(out.size() + 8);
        out += be32({hierarchy, 0, w, h, 4, hierarchy + 20, 0, w, h});
        out += be32({static_cast<unsigned>(out.size() + 8), 0});
        for (const unsigned char channel : layer.rgba)
            for (int left = layer.width * layer.height; left > 0; left -= 127) {
                out += static_cast<char>(std::min(left, 127) - 1);
                out += static_cast<char>(channel);
            }
    }
    return out;
}

std::string dngFile(int width, int height, int orientation, bool lossless) {
    // A smooth mosaic, brighter to the right and down: each sample is 256 above the one
    // before it in its row, or, first in a row, above the one over it.
    std::string pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            le16(pixels, static_cast<unsigned>(33024 + 256 * (x + y)));
    if (lossless) {
        // Lossless JPEG (predictor 1, one component): the first sample is predicted as
        // 32768, so every difference is 256, the one category (9) of the Huffman table,
        // coded "0" and followed by 256 in nine bits; the last byte is padded with ones.
        std::string bits;
        for (int i = 0; i < width * height; ++i)
            bits += "0100000000";
        bits.append((8 - bits.size() % 8) % 8, '1');
        pixels = std::string("\xFF\xD8\xFF\xC4\x00\x14\x00\x01", 8) + std::string(15, '\0') +
                 "\x09\xFF\xC3" + std::string("\x00\x0B\x10", 3);
        pixels += be32({static_cast<unsigned>(height << 16 | width)});
        pixels += std::string("\x01\x01\x11\x00\xFF\xDA\x00\x08\x01\x01\x00\x01\x00\x00", 14);
        for (std::size_t i = 0; i < bits.size(); i += 8)
            pixels += static_cast<char>(std::stoi(bits.substr(i, 8), nullptr, 2));
        pixels += "\xFF\xD9";
    }
    const auto pixelBytes = static_cast<unsigned>(pixels.size());
    struct Tag {
        unsigned tag, type, count, value;
        std::string data; // out-of-line data, when the value does not fit
    };
    std::string matrix;
    for (int i = 0; i < 9; ++i)
        matrix += le32({i % 4 == 0 ? 1u : 0u, 1u}); // identity, as signed rationals
    const std::string model("Lumatra Test", 13);
    std::vector<Tag> tags = {
        {256, 4, 1, static_cast<unsigned>(width), {}},
        {257, 4, 1, static_cast<unsigned>(height), {}},
        {258, 3, 1, 16, {}},
        {259, 3, 1, lossless ? 7u : 1u, {}},
        {262, 3, 1, 32803, {}},
        {271, 2, static_cast<unsigned>(model.size()), 0, model},
        {273, 4, 1, 0, {}}, // strip offset, filled in below
        {274, 3, 1, static_cast<unsigned>(orientation), {}},
        {279, 4, 1, pixelBytes, {}},
        {33421, 3, 2, 0x00020002, {}},
        {33422, 1, 4, 0x02010100, {}},
        {50706, 1, 4, 0x00000401, {}},
        {50708, 2, static_cast<unsigned>(model.size()), 0, model},
        {50717, 4, 1, 65535, {}},
        {50721, 10, 9, 0, matrix},
    };
    const unsigned ifdSize = 2 + 12 * static_cast<unsigned>(tags.size()) + 4;
    unsigned dataAt = 8 + ifdSize;
    std::string extra;
    for (Tag& tag : tags) {
        if (tag.data.empty()) continue;
        tag.value = dataAt + static_cast<unsigned>(extra.size());
        extra += tag.data;
        if (extra.size() % 2) extra += '\0';
    }
    const unsigned pixelsAt = dataAt + static_cast<unsigned>(extra.size());
    // Little-endian: a value of up to four bytes stands in its entry, in its first bytes.
    std::string file = std::string("II*\0", 4) + le32({8});
    le16(file, static_cast<unsigned>(tags.size()));
    for (const Tag& tag : tags)
        file += le32({tag.tag | tag.type << 16, tag.count, tag.tag == 273 ? pixelsAt : tag.value});
    return file + le32({0}) + extra + pixels;
}

std::vector<double> pixelAt(const std::filesystem::path& file, int x, int y) {
    startTestVips();
    return vips::VImage::new_from_file(file.c_str()).getpoint(x, y);
}

std::string pdfField(const std::filesystem::path& file, const std::string& name) {
    const std::string out = runProgram({"pdfinfo", file.string()}).out;
    const auto at = out.find("\n" + name + ":");
    if (at == std::string::npos) return {};
    const auto start = out.find_first_not_of(' ', at + name.size() + 2);
    return out.substr(start, out.find('\n', start) - start);
}

} // namespace lumatra::test
