#include "image/tiff_exif.h"

#include "image/image_io.h"

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace lumatra {
namespace {

// One entry of an EXIF directory, its values still in the block's byte order.
struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::string_view values;
};

// The directories of an EXIF block that a TIFF file takes.
struct ExifDirectories {
    std::vector<Entry> picture; // the camera's tags of IFD0
    std::vector<Entry> exif;
    std::vector<Entry> gps;
};

// Bytes of one value of each TIFF type, 0 for a type this walk does not know.
std::size_t typeSize(std::uint16_t type) {
    switch (type) {
    case TIFF_BYTE:
    case TIFF_ASCII:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED:
        return 1;
    case TIFF_SHORT:
    case TIFF_SSHORT:
        return 2;
    case TIFF_LONG:
    case TIFF_SLONG:
    case TIFF_FLOAT:
    case TIFF_IFD:
        return 4;
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
    case TIFF_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

class ExifReader {
public:
    explicit ExifReader(std::string_view block) : m_tiff(block) {}

    std::optional<ExifDirectories> read() {
        if (m_tiff.size() < 8) return std::nullopt;
        m_little = m_tiff.starts_with("II");
        if (!m_little && !m_tiff.starts_with("MM")) return std::nullopt;
        ExifDirectories found;
        for (const Entry& entry : directory(u32(m_tiff, 4))) {
            switch (entry.tag) {
            case TIFFTAG_IMAGEDESCRIPTION:
            case TIFFTAG_MAKE:
            case TIFFTAG_MODEL:
            case TIFFTAG_SOFTWARE:
            case TIFFTAG_DATETIME:
            case TIFFTAG_ARTIST:
            case TIFFTAG_COPYRIGHT:
                found.picture.push_back(entry);
                break;
            case TIFFTAG_EXIFIFD:
                if (entry.values.size() == 4) found.exif = directory(u32(entry.values, 0));
                break;
            case TIFFTAG_GPSIFD:
                if (entry.values.size() == 4) found.gps = directory(u32(entry.values, 0));
                break;
            default:
                break;
            }
        }
        return found;
    }

    // The `index`th value of a numeric entry (a rational as its quotient).
    double number(const Entry& entry, std::uint32_t index) const {
        const std::size_t at = index * typeSize(entry.type);
        switch (entry.type) {
        case TIFF_SBYTE:
            return static_cast<std::int8_t>(entry.values[at]);
        case TIFF_SHORT:
            return u16(entry.values, at);
        case TIFF_SSHORT:
            return static_cast<std::int16_t>(u16(entry.values, at));
        case TIFF_LONG:
        case TIFF_IFD:
            return u32(entry.values, at);
        case TIFF_SLONG:
            return static_cast<std::int32_t>(u32(entry.values, at));
        case TIFF_RATIONAL: {
            const std::uint32_t denominator = u32(entry.values, at + 4);
            return denominator == 0 ? 0.0 : double(u32(entry.values, at)) / denominator;
        }
        case TIFF_SRATIONAL: {
            const auto denominator = static_cast<std::int32_t>(u32(entry.values, at + 4));
            return denominator == 0
                       ? 0.0
                       : double(static_cast<std::int32_t>(u32(entry.values, at))) / denominator;
        }
        case TIFF_FLOAT: {
            const std::uint32_t bits = u32(entry.values, at);
            float value = 0;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        case TIFF_DOUBLE: {
            const std::uint64_t bits = u32(entry.values, at + (m_little ? 0 : 4)) |
                                       std::uint64_t{u32(entry.values, at + (m_little ? 4 : 0))}
                                           << 32;
            double value = 0;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        default: // bytes
            return static_cast<std::uint8_t>(entry.values[at]);
        }
    }

private:
    std::uint32_t u16(std::string_view bytes, std::size_t at) const {
        const auto a = static_cast<std::uint8_t>(bytes[at]);
        const auto b = static_cast<std::uint8_t>(bytes[at + 1]);
        return m_little ? (a | b << 8) : (a << 8 | b);
    }
    std::uint32_t u32(std::string_view bytes, std::size_t at) const {
        const std::uint32_t low = u16(bytes, at + (m_little ? 0 : 2));
        const std::uint32_t high = u16(bytes, at + (m_little ? 2 : 0));
        return low | high << 16;
    }

    // The entries of the directory at `offset`; those whose values lie outside the block
    // are left out.
    std::vector<Entry> directory(std::uint32_t offset) const {
        std::vector<Entry> entries;
        if (offset < 8 || offset > m_tiff.size() - 2) return entries;
        const std::size_t count = u16(m_tiff, offset);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = offset + 2 + 12 * i;
            if (at + 12 > m_tiff.size()) break;
            Entry entry{static_cast<std::uint16_t>(u16(m_tiff, at)),
                        static_cast<std::uint16_t>(u16(m_tiff, at + 2)),
                        u32(m_tiff, at + 4),
                        {}};
            const std::size_t size = typeSize(entry.type);
            if (size == 0 || entry.count == 0 || entry.count > m_tiff.size() / size) continue;
            const std::size_t bytes = size * entry.count;
            const std::size_t start = bytes <= 4 ? at + 8 : u32(m_tiff, at + 8);
            if (start > m_tiff.size() || bytes > m_tiff.size() - start) continue;
            entry.values = m_tiff.substr(start, bytes);
            entries.push_back(entry);
        }
        return entries;
    }

    std::string_view m_tiff;
    bool m_little = true;
};

// The EXIF directory's pointer to the interoperability directory, which is not copied.
constexpr std::uint16_t interoperabilityDirectory = 0xA005;

bool isReal(TIFFDataType type) {
    return type == TIFF_RATIONAL || type == TIFF_SRATIONAL || type == TIFF_FLOAT ||
           type == TIFF_DOUBLE;
}

// Sets `entry` in the current directory of `tiff` in the shape the library keeps that
// tag in; false when it knows no such tag or the entry does not fit it.
bool setField(TIFF* tiff, const ExifReader& reader, const Entry& entry) {
    const TIFFField* field = TIFFFindField(tiff, entry.tag, TIFF_ANY);
    if (!field) return false;
    const TIFFDataType type = TIFFFieldDataType(field);
    const bool passCount = TIFFFieldPassCount(field) != 0;
    if ((type == TIFF_ASCII) != (entry.type == TIFF_ASCII)) return false;
    if (type == TIFF_ASCII) {
        const std::string text(entry.values.substr(0, entry.values.find('\0')));
        return passCount ? TIFFSetField(tiff, entry.tag, std::uint32_t(text.size() + 1),
                                        text.c_str()) != 0
                         : TIFFSetField(tiff, entry.tag, text.c_str()) != 0;
    }
    const int writeCount = TIFFFieldWriteCount(field);
    if (writeCount == TIFF_SPP) return false;
    const bool variable = writeCount == TIFF_VARIABLE || writeCount == TIFF_VARIABLE2;
    std::uint32_t count = entry.count;
    if (!passCount) {
        if (variable)
            count = 1;
        else if (writeCount <= 0 || count < static_cast<std::uint32_t>(writeCount))
            return false;
        else
            count = static_cast<std::uint32_t>(writeCount);
    }
    const int size = TIFFFieldSetGetSize(field);
    if (size != 1 && size != 2 && size != 4 && size != 8) return false;
    const bool real = isReal(type);
    if (!passCount && !variable && count == 1) {
        const double value = reader.number(entry, 0);
        if (real) return TIFFSetField(tiff, entry.tag, value) != 0;
        if (size == 8) return TIFFSetField(tiff, entry.tag, static_cast<std::uint64_t>(value)) != 0;
        if (type == TIFF_LONG || type == TIFF_SLONG || type == TIFF_IFD)
            return TIFFSetField(tiff, entry.tag,
                                static_cast<std::uint32_t>(static_cast<std::int64_t>(value))) != 0;
        return TIFFSetField(tiff, entry.tag, static_cast<int>(value)) != 0;
    }
    // Arrays are handed over in the library's own storage: floats or doubles for real
    // numbers, integers of its width otherwise.
    std::vector<unsigned char> values(static_cast<std::size_t>(count) * size);
    for (std::uint32_t i = 0; i < count; ++i) {
        const double value = reader.number(entry, i);
        unsigned char* at = values.data() + static_cast<std::size_t>(i) * size;
        if (real && size == 4) {
            const auto single = static_cast<float>(value);
            std::memcpy(at, &single, 4);
        } else if (real) {
            std::memcpy(at, &value, 8);
        } else {
            const auto whole = static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
            const auto u8 = static_cast<std::uint8_t>(whole);
            const auto u16 = static_cast<std::uint16_t>(whole);
            const auto u32 = static_cast<std::uint32_t>(whole);
            std::memcpy(at,
                        size == 1   ? static_cast<const void*>(&u8)
                        : size == 2 ? static_cast<const void*>(&u16)
                        : size == 4 ? static_cast<const void*>(&u32)
                                    : static_cast<const void*>(&whole),
                        static_cast<std::size_t>(size));
        }
    }
    return passCount ? TIFFSetField(tiff, entry.tag, count, values.data()) != 0
                     : TIFFSetField(tiff, entry.tag, values.data()) != 0;
}

// The written file as libtiff reads and changes it: the output's descriptor at an offset
// of its own, so nothing depends on where the saver left the descriptor.
struct FileAccess {
    int fd = -1;
    std::uint64_t at = 0;
    int error = 0;
};

tmsize_t readFile(thandle_t handle, void* data, tmsize_t size) {
    auto* file = static_cast<FileAccess*>(handle);
    for (;;) {
        const ssize_t n =
            ::pread(file->fd, data, static_cast<std::size_t>(size), static_cast<off_t>(file->at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) file->error = errno;
        if (n > 0) file->at += static_cast<std::uint64_t>(n);
        return n;
    }
}

tmsize_t writeFile(thandle_t handle, void* data, tmsize_t size) {
    auto* file = static_cast<FileAccess*>(handle);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(file->fd, static_cast<const char*>(data) + done,
                     static_cast<std::size_t>(size - done), static_cast<off_t>(file->at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            file->error = n < 0 ? errno : EIO;
            return -1;
        }
        done += n;
        file->at += static_cast<std::uint64_t>(n);
    }
    return done;
}

toff_t fileSize(thandle_t handle) {
    struct stat info {};
    return ::fstat(static_cast<FileAccess*>(handle)->fd, &info) == 0
               ? static_cast<toff_t>(info.st_size)
               : 0;
}

toff_t seekFile(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<FileAccess*>(handle);
    if (whence == SEEK_CUR)
        offset += file->at;
    else if (whence == SEEK_END)
        offset += fileSize(handle);
    file->at = offset;
    return offset;
}

int closeFile(thandle_t) {
    return 0; // the descriptor stays the output's
}

int noMapping(thandle_t, void**, toff_t*) {
    return 0;
}

void noUnmapping(thandle_t, void*, toff_t) {}

// The library's complaints are ours to turn into one failure, never printed.
int quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

} // namespace

void addExifToTiff(OutputFile& output, std::string_view exif) {
    if (exif.starts_with(std::string_view("Exif\0\0", 6))) exif.remove_prefix(6);
    ExifReader reader(exif);
    const std::optional<ExifDirectories> found = reader.read();
    if (!found) return;

    FileAccess file{output.descriptor()};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    const std::unique_ptr<TIFF, TiffCloser> tiff(
        TIFFClientOpenExt("output", "r+m", &file, readFile, writeFile, seekFile, closeFile,
                          fileSize, noMapping, noUnmapping, options));
    TIFFOpenOptionsFree(options);
    const auto failed = [&] { output.throwWriteFailed(file.error); };
    if (!tiff) failed();

    // Each directory of its own is written at the file's end, then the picture's directory
    // again with their places.
    const auto writeDirectory = [&](const std::vector<Entry>& entries, auto create) {
        std::uint64_t offset = 0;
        if (entries.empty()) return offset;
        // This libtiff's create sets up an empty directory without freeing the one it
        // replaces; the picture's directory is read again below.
        TIFFFreeDirectory(tiff.get());
        create(tiff.get()); // it only sets up the tags known there
        int set = 0;
        for (const Entry& entry : entries) {
            // The sizes of a compressed picture (JPEG's) and the place of a directory
            // that stays behind have no meaning here.
            if (entry.tag == EXIFTAG_PIXELXDIMENSION || entry.tag == EXIFTAG_PIXELYDIMENSION ||
                entry.tag == interoperabilityDirectory)
                continue;
            set += setField(tiff.get(), reader, entry) ? 1 : 0;
        }
        if (set > 0 && !TIFFWriteCustomDirectory(tiff.get(), &offset)) failed();
        return offset;
    };
    const std::uint64_t exifOffset = writeDirectory(found->exif, TIFFCreateEXIFDirectory);
    const std::uint64_t gpsOffset = writeDirectory(found->gps, TIFFCreateGPSDirectory);
    if (!TIFFSetDirectory(tiff.get(), 0)) failed();
    for (const Entry& entry : found->picture)
        setField(tiff.get(), reader, entry);
    TIFFSetField(tiff.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (exifOffset) TIFFSetField(tiff.get(), TIFFTAG_EXIFIFD, exifOffset);
    if (gpsOffset) TIFFSetField(tiff.get(), TIFFTAG_GPSIFD, gpsOffset);
    if (!TIFFRewriteDirectory(tiff.get()) || file.error != 0) failed();
}

} // namespace lumatra
