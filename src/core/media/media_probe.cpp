// The media probe: the container's duration and its kinds of streams, read in process
// with libavformat the way ffprobe reads them, without starting a program per file.

#include "converter/families.h"
#include "tools/unique_fd.h"

extern "C" {
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

Converter::Probe probeContainer(const std::filesystem::path& source, std::stop_token stop) {
    using Probe = Converter::Probe;
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    Probe unreadable;
    unreadable.readable = false;
    // Opened without waiting, and only a regular file is read.
    ProbeInput input;
    const UniqueFd fd(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return unreadable;
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    input.fd = fd.get();
    input.stop = stop;

    const IoContext io(input);
    FormatContext format;
    format.get() = avformat_alloc_context();
    if (!io.get() || !format.get()) return unreadable;
    format.get()->pb = io.get();
    format.get()->flags |= AVFMT_FLAG_CUSTOM_IO;
    format.get()->interrupt_callback = {interrupted, &input};
    // The name lends its extension to the format guess, as it does for ffprobe.
    if (avformat_open_input(&format.get(), source.c_str(), nullptr, nullptr) < 0) return unreadable;
    // Finding the streams decodes a little of each, as ffprobe does (durations of raw and
    // transport streams come from it); one decoder thread each is plenty for that.
    std::vector<AVDictionary*> options(format.get()->nb_streams, nullptr);
    for (auto*& streamOptions : options)
        av_dict_set(&streamOptions, "threads", "1", 0);
    const int found = avformat_find_stream_info(format.get(), options.data());
    for (auto*& streamOptions : options)
        av_dict_free(&streamOptions);
    if (found < 0) return unreadable;

    const AVFormatContext& container = *format.get();
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

} // namespace
} // namespace lumatra

extern "C" const lumatra::MediaFamily* lumatra_media_family() {
    static const lumatra::MediaFamily family{&lumatra::probeContainer};
    return &family;
}
