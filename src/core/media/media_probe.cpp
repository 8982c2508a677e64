// The media probe: the container's duration and its kinds of streams, read in process
// with libavformat the way ffprobe reads them, without starting a program per file.

#include "converter/families.h"
#include "tools/unique_fd.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <mutex>
#include <vector>

namespace lumatra {
namespace {

constexpr int ioBufferSize = 64 * 1024;

// What the reading callbacks work on.
struct ProbeInput {
    int fd = -1;
    std::stop_token stop;
};

int readPacket(void* opaque, std::uint8_t* buffer, int size) {
    const auto* input = static_cast<ProbeInput*>(opaque);
    for (;;) {
        const ssize_t n = ::read(input->fd, buffer, static_cast<std::size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

std::int64_t seekTo(void* opaque, std::int64_t offset, int whence) {
    const auto* input = static_cast<ProbeInput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(input->fd, &info) == 0 ? info.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(input->fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

int interrupted(void* opaque) {
    return static_cast<ProbeInput*>(opaque)->stop.stop_requested() ? 1 : 0;
}

// Owns a custom I/O context and its buffer.
class IoContext {
public:
    explicit IoContext(ProbeInput& input) {
        auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferSize));
        if (!buffer) return;
        m_io = avio_alloc_context(buffer, ioBufferSize, 0, &input, readPacket, nullptr, seekTo);
        if (!m_io) av_free(buffer);
    }
    IoContext(const IoContext&) = delete;
    IoContext& operator=(const IoContext&) = delete;
    ~IoContext() {
        if (!m_io) return;
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    AVIOContext* get() const { return m_io; }

private:
    AVIOContext* m_io = nullptr;
};

// Owns an opened container.
class FormatContext {
public:
    FormatContext() = default;
    FormatContext(const FormatContext&) = delete;
    FormatContext& operator=(const FormatContext&) = delete;
    ~FormatContext() { avformat_close_input(&m_context); }
    AVFormatContext*& get() { return m_context; }

private:
    AVFormatContext* m_context = nullptr;
};

// A source opened for libavformat through its own descriptor: only a regular file is
// read, and a stop ends the reading.
class OpenedSource {
public:
    OpenedSource(const std::filesystem::path& source, std::stop_token stop)
        : m_fd(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)),
          m_io(m_input) {
        static std::once_flag quiet;
        std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
        struct stat info {};
        if (!m_fd || ::fstat(m_fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return;
        ::fcntl(m_fd.get(), F_SETFL, ::fcntl(m_fd.get(), F_GETFL) & ~O_NONBLOCK);
        m_input.fd = m_fd.get();
        m_input.stop = std::move(stop);
        m_format.get() = avformat_alloc_context();
        if (!m_io.get() || !m_format.get()) return;
        m_format.get()->pb = m_io.get();
        m_format.get()->flags |= AVFMT_FLAG_CUSTOM_IO;
        m_format.get()->interrupt_callback = {interrupted, &m_input};
        // The name lends its extension to the format guess, as it does for ffprobe.
        m_opened = avformat_open_input(&m_format.get(), source.c_str(), nullptr, nullptr) >= 0;
    }
    OpenedSource(const OpenedSource&) = delete;
    OpenedSource& operator=(const OpenedSource&) = delete;

    /// The container with its header read; null when the source could not be opened.
    AVFormatContext* container() { return m_opened ? m_format.get() : nullptr; }

private:
    UniqueFd m_fd;
    ProbeInput m_input;
    IoContext m_io;
    FormatContext m_format;
    bool m_opened = false;
};

Converter::Probe probeContainer(const std::filesystem::path& source, std::stop_token stop) {
    using Probe = Converter::Probe;
    Probe unreadable;
    unreadable.readable = false;
    OpenedSource opened(source, std::move(stop));
    AVFormatContext* const context = opened.container();
    if (!context) return unreadable;
    // Finding the streams decodes a little of each, as ffprobe does (durations of raw and
    // transport streams come from it); one decoder thread each is plenty for that.
    std::vector<AVDictionary*> options(context->nb_streams, nullptr);
    for (auto*& streamOptions : options)
        av_dict_set(&streamOptions, "threads", "1", 0);
    const int found = avformat_find_stream_info(context, options.data());
    for (auto*& streamOptions : options)
        av_dict_free(&streamOptions);
    if (found < 0) return unreadable;

    const AVFormatContext& container = *context;
    Probe probe;
    if (container.duration != AV_NOPTS_VALUE) {
        probe.duration = static_cast<double>(container.duration) / AV_TIME_BASE;
        if (!std::isfinite(probe.duration) || probe.duration < 0) probe.duration = 0;
    }
    probe.hasAudio = false;
    probe.hasVideo = false;
    for (unsigned i = 0; i < container.nb_streams; ++i) {
        const AVStream& stream = *container.streams[i];
        switch (stream.codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            probe.hasAudio = true;
            break;
        case AVMEDIA_TYPE_VIDEO:
            // A cover picture is no video track.
            if (!(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) probe.hasVideo = true;
            break;
        default:
            break;
        }
    }
    return probe;
}

// The attached pictures as the container's header lists them. JPEG and PNG go into every
// container that takes a cover; other pictures (GIF, TIFF, WebP…) only into some, so they
// are drawn again as PNG, and one no decoder here reads stays behind.
std::vector<MediaArgs::Cover> coverPictures(const std::filesystem::path& source,
                                            std::stop_token stop) {
    OpenedSource opened(source, std::move(stop));
    const AVFormatContext* const context = opened.container();
    std::vector<MediaArgs::Cover> covers;
    if (!context) return covers;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream& stream = *context->streams[i];
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const AVCodecID codec = stream.codecpar->codec_id;
        auto fit = MediaArgs::CoverFit::png;
        if (codec == AV_CODEC_ID_MJPEG || codec == AV_CODEC_ID_PNG)
            fit = MediaArgs::CoverFit::asIs;
        else if (!avcodec_find_decoder(codec))
            fit = MediaArgs::CoverFit::none;
        covers.push_back({static_cast<int>(i), fit});
    }
    return covers;
}

} // namespace
} // namespace lumatra

extern "C" const lumatra::MediaFamily* lumatra_media_family() {
    static const lumatra::MediaFamily family{&lumatra::probeContainer, &lumatra::coverPictures};
    return &family;
}
