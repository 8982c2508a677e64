#include "richtext/rtf_reader.h"

#include "formats/convert_error.h"
#include "richtext/rtf_tables.h"
#include "text/utf8.h"
#include "tools/read_to_end.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

namespace lumatra::RtfReader {
namespace {

using Rtf::Destination;

struct Font {
    std::string name;
    int codePage = 0; // 0: the document's
};

// Everything a group saves and restores.
struct GroupState {
    Destination destination = Destination::text;
    CharacterStyle chars;
    int font = -1;
    int foreground = 0;
    int background = 0;
    int skipCount = 1; // \ucN
    ParagraphStyle paragraph;
    std::string fieldLink; // the hyperlink of the field this group belongs to
    bool hidden = false;   // \v: text the document does not show
};

struct Picture {
    std::optional<InlineImage::Type> type;
    std::string hex;
    std::string binary;
    int goalWidth = 0; // twips
    int goalHeight = 0;
    int scaleX = 100;
    int scaleY = 100;
};

[[noreturn]] void fail(const std::string& reason, std::size_t at) {
    throw ConvertError::failed("Не удалось прочитать RTF: " + reason + " (байт " +
                               std::to_string(at) + ")");
}

class Parser {
public:
    Parser(std::string_view input, std::stop_token stop) : m_in(input), m_stop(std::move(stop)) {}

    AttributedText run() {
        skipLeadingSpace();
        if (m_in.substr(m_pos, 5) != "{\\rtf") fail("это не RTF", m_pos);
        while (m_pos < m_in.size()) {
            if ((m_pos & 0xFFFF) == 0 && m_stop.stop_requested()) throw CancelledError();
            const char c = m_in[m_pos];
            if (c == '{') {
                ++m_pos;
                openGroup();
            } else if (c == '}') {
                ++m_pos;
                if (!closeGroup()) break; // the document's own group has ended
            } else if (c == '\\') {
                ++m_pos;
                controlSequence();
            } else if (c == '\r' || c == '\n') {
                ++m_pos;
            } else {
                ++m_pos;
                byte(static_cast<unsigned char>(c));
            }
        }
        flushBytes();
        m_out.setParagraphStyle(m_state.paragraph);
        return std::move(m_out);
    }

private:
    void skipLeadingSpace() {
        while (m_pos < m_in.size() && (m_in[m_pos] == ' ' || m_in[m_pos] == '\r' ||
                                       m_in[m_pos] == '\n' || m_in[m_pos] == '\t'))
            ++m_pos;
    }

    void openGroup() {
        flushBytes();
        if (m_stack.size() >= static_cast<std::size_t>(maxDepth))
            fail("слишком глубокая вложенность групп", m_pos - 1);
        m_stack.push_back(m_state);
        m_pendingSkip = 0;
        m_starred = false;
    }

    // Returns false once the outermost group closes.
    bool closeGroup() {
        flushBytes();
        m_pendingSkip = 0;
        if (m_stack.empty()) return false;
        if (isFontTable(m_state.destination) && !m_fontEntry.name.empty()) commitFont();
        const GroupState inner = std::move(m_state);
        m_state = std::move(m_stack.back());
        m_stack.pop_back();
        if (inner.destination != m_state.destination) endDestination(inner);
        if (m_stack.empty()) return false;
        return true;
    }

    void endDestination(const GroupState& inner) {
        switch (inner.destination) {
        case Destination::picture:
            commitPicture(inner);
            break;
        case Destination::fieldInstruction:
            m_state.fieldLink = hyperlinkTarget(m_instruction);
            m_instruction.clear();
            break;
        case Destination::text:
        case Destination::skip:
        case Destination::fontTable:
        case Destination::colorTable:
        case Destination::container:
            break;
        }
    }

    static bool isFontTable(Destination destination) {
        return destination == Destination::fontTable;
    }

    void controlSequence() {
        if (m_pos >= m_in.size()) return;
        const char c = m_in[m_pos];
        if (!isLetter(c)) {
            ++m_pos;
            controlSymbol(c);
            return;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_in.size() && isLetter(m_in[m_pos]) && m_pos - start < 32)
            ++m_pos;
        const std::string_view word = m_in.substr(start, m_pos - start);
        std::optional<int> parameter;
        if (m_pos < m_in.size() && (m_in[m_pos] == '-' || isDigit(m_in[m_pos]))) {
            const bool negative = m_in[m_pos] == '-';
            if (negative) ++m_pos;
            long long value = 0;
            std::size_t digits = 0;
            while (m_pos < m_in.size() && isDigit(m_in[m_pos])) {
                if (digits++ < 10) value = value * 10 + (m_in[m_pos] - '0');
                ++m_pos;
            }
            value = std::clamp<long long>(negative ? -value : value, -2147483647LL, 2147483647LL);
            parameter = static_cast<int>(value);
        }
        if (m_pos < m_in.size() && m_in[m_pos] == ' ') ++m_pos;

        if (m_pendingSkip > 0 && word != "bin") {
            --m_pendingSkip;
            return;
        }
        controlWord(word, parameter);
    }

    void controlSymbol(char c) {
        if (c == '\'') {
            int value = 0;
            int digits = 0;
            while (digits < 2 && m_pos < m_in.size() && hexValue(m_in[m_pos]) >= 0) {
                value = value * 16 + hexValue(m_in[m_pos]);
                ++m_pos;
                ++digits;
            }
            if (m_pendingSkip > 0) {
                --m_pendingSkip;
                return;
            }
            if (digits > 0) byte(static_cast<unsigned char>(value), true);
            return;
        }
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            byte(static_cast<unsigned char>(c), true);
            return;
        case '~':
            text("\xC2\xA0");
            return;
        case '_':
            text("\xE2\x80\x91");
            return;
        case '*':
            m_starred = true;
            return;
        case '\r':
        case '\n':
            paragraphEnd();
            return;
        default: // \- optional hyphen, \: index entry and the like
            return;
        }
    }

    void controlWord(std::string_view word, std::optional<int> parameter) {
        flushBytes();
        const bool starred = std::exchange(m_starred, false);
        if (const auto destination = Rtf::destinationFor(word)) {
            enterDestination(*destination, word);
            return;
        }
        if (starred) {
            // An optional destination we do not know: skip the group it opens.
            m_state.destination = Destination::skip;
            return;
        }
        if (word == "bin") {
            const std::size_t length =
                std::min<std::size_t>(std::max(parameter.value_or(0), 0), m_in.size() - m_pos);
            if (m_state.destination == Destination::picture)
                m_picture.binary.append(m_in.substr(m_pos, length));
            m_pos += length;
            return;
        }
        switch (m_state.destination) {
        case Destination::skip:
            return;
        case Destination::fontTable:
            fontTableWord(word, parameter);
            return;
        case Destination::colorTable:
            colorTableWord(word, parameter);
            return;
        case Destination::picture:
            pictureWord(word, parameter);
            return;
        case Destination::fieldInstruction:
        case Destination::container:
        case Destination::text:
            break;
        }
        textWord(word, parameter);
    }

    void enterDestination(Destination destination, std::string_view word) {
        flushBytes();
        if (m_state.destination == Destination::skip) return;
        if (destination == Destination::fontTable) m_fontEntry = {};
        if (destination == Destination::picture) m_picture = {};
        if (destination == Destination::colorTable) m_colorPending = {};
        if (destination == Destination::text && word == "fldrslt")
            m_state.chars.link = m_state.fieldLink;
        m_state.destination = destination;
    }

    void fontTableWord(std::string_view word, std::optional<int> parameter) {
        // Entries of the font table may or may not have groups of their own.
        if (word == "f") {
            flushBytes();
            if (!m_fontEntry.name.empty()) commitFont();
            m_fontNumber = parameter.value_or(0);
            m_fontEntry = {};
        } else if (word == "fcharset") {
            m_fontEntry.codePage = Rtf::codePageForCharset(parameter.value_or(0));
        } else if (word == "cpg") {
            m_fontEntry.codePage = parameter.value_or(0);
        }
    }

    void commitFont() {
        flushBytes();
        std::string name = m_fontEntry.name;
        while (!name.empty() && (name.back() == ';' || name.back() == ' '))
            name.pop_back();
        if (m_fonts.size() < 4096) m_fonts[m_fontNumber] = {name, m_fontEntry.codePage};
        m_fontEntry = {};
    }

    void colorTableWord(std::string_view word, std::optional<int> parameter) {
        const auto component = static_cast<std::uint8_t>(std::clamp(parameter.value_or(0), 0, 255));
        if (!m_colorPending) m_colorPending = Color{};
        if (word == "red")
            m_colorPending->red = component;
        else if (word == "green")
            m_colorPending->green = component;
        else if (word == "blue")
            m_colorPending->blue = component;
    }

    void pictureWord(std::string_view word, std::optional<int> parameter) {
        const int value = parameter.value_or(0);
        if (word == "pngblip")
            m_picture.type = InlineImage::Type::png;
        else if (word == "jpegblip")
            m_picture.type = InlineImage::Type::jpeg;
        else if (word == "picwgoal")
            m_picture.goalWidth = value;
        else if (word == "pichgoal")
            m_picture.goalHeight = value;
        else if (word == "picscalex")
            m_picture.scaleX = value;
        else if (word == "picscaley")
            m_picture.scaleY = value;
    }

    void commitPicture(const GroupState& inner) {
        if (!m_picture.type) return;
        std::string bytes = std::move(m_picture.binary);
        const std::string& hex = m_picture.hex;
        bytes.reserve(bytes.size() + hex.size() / 2);
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<char>(hexValue(hex[i]) * 16 + hexValue(hex[i + 1])));
        if (bytes.empty()) return;
        InlineImage image;
        image.type = *m_picture.type;
        image.bytes = std::move(bytes);
        const auto scaled = [](int twips, int percent) {
            return twips > 0 && percent > 0 ? twips / 20.0 * percent / 100.0 : 0.0;
        };
        image.width = scaled(m_picture.goalWidth, m_picture.scaleX);
        image.height = scaled(m_picture.goalHeight, m_picture.scaleY);
        if (m_state.destination != Destination::text &&
            m_state.destination != Destination::container)
            return;
        takePendingCell();
        m_out.appendImage(std::move(image), resolvedStyle(inner));
        m_picture = {};
    }

    void textWord(std::string_view word, std::optional<int> parameter) {
        const int value = parameter.value_or(1);
        const bool on = value != 0;
        CharacterStyle& chars = m_state.chars;
        ParagraphStyle& paragraph = m_state.paragraph;
        if (const auto special = Rtf::specialCharacter(word)) {
            text(*special);
        } else if (word == "u") {
            unicode(parameter.value_or(0));
        } else if (word == "uc") {
            m_state.skipCount = std::clamp(parameter.value_or(1), 0, 16);
        } else if (word == "par" || word == "sect" || word == "page") {
            paragraphEnd();
        } else if (word == "line") {
            text(AttributedText::lineSeparator);
        } else if (word == "tab") {
            text("\t");
        } else if (word == "cell" || word == "nestcell") {
            flushBytes();
            m_cellPending = true;
        } else if (word == "row" || word == "nestrow") {
            flushBytes();
            m_cellPending = false;
            paragraphEnd();
        } else if (word == "plain") {
            const std::string link = chars.link;
            chars = {};
            chars.link = link;
            m_state.font = m_defaultFont;
            m_state.hidden = false;
            m_state.foreground = 0;
            m_state.background = 0;
        } else if (word == "v") {
            m_state.hidden = on;
        } else if (word == "b") {
            chars.bold = on;
        } else if (word == "i") {
            chars.italic = on;
        } else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" ||
                   word == "ulth" || word == "ulwave" || word == "uldash") {
            chars.underline = on;
        } else if (word == "ulnone") {
            chars.underline = false;
        } else if (word == "strike" || word == "striked") {
            chars.strikethrough = on;
        } else if (word == "f") {
            flushBytes();
            m_state.font = parameter.value_or(0);
        } else if (word == "fs") {
            chars.fontSize = std::clamp(parameter.value_or(24), 2, 3276) / 2.0;
        } else if (word == "cf") {
            m_state.foreground = parameter.value_or(0);
        } else if (word == "cb" || word == "chcbpat" || word == "highlight") {
            m_state.background = parameter.value_or(0);
        } else if (word == "pard") {
            paragraph = {};
        } else if (word == "ql") {
            paragraph.alignment = Alignment::left;
        } else if (word == "qc") {
            paragraph.alignment = Alignment::center;
        } else if (word == "qr") {
            paragraph.alignment = Alignment::right;
        } else if (word == "qj") {
            paragraph.alignment = Alignment::justified;
        } else if (word == "li" || word == "lin") {
            paragraph.leftIndent = twips(parameter);
        } else if (word == "ri" || word == "rin") {
            paragraph.rightIndent = twips(parameter);
        } else if (word == "fi") {
            paragraph.firstLineIndent = twips(parameter);
        } else if (word == "sb") {
            paragraph.spaceBefore = std::max(0.0, twips(parameter));
        } else if (word == "sa") {
            paragraph.spaceAfter = std::max(0.0, twips(parameter));
        } else if (word == "deff") {
            m_defaultFont = parameter.value_or(0);
            m_state.font = m_defaultFont;
        } else if (word == "ansicpg") {
            m_documentCodePage = parameter.value_or(1252);
        } else if (word == "mac") {
            m_documentCodePage = 10000;
        } else if (word == "pc") {
            m_documentCodePage = 437;
        } else if (word == "pca") {
            m_documentCodePage = 850;
        }
    }

    static double twips(std::optional<int> parameter) {
        // Indents beyond a few metres make no sense on a page; keep them finite.
        return std::clamp(parameter.value_or(0), -200000, 200000) / 20.0;
    }

    void unicode(int value) {
        flushBytes();
        m_pendingSkip = m_state.skipCount;
        char32_t code = static_cast<char32_t>(value < 0 ? value + 65536 : value) & 0xFFFF;
        if (code >= 0xD800 && code <= 0xDBFF) {
            m_highSurrogate = code;
            return;
        }
        if (code >= 0xDC00 && code <= 0xDFFF) {
            if (m_highSurrogate == 0) return;
            code = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (code - 0xDC00);
        }
        m_highSurrogate = 0;
        std::string encoded;
        utf8::appendCodePoint(encoded, code == 0 ? char32_t{0xFFFD} : code);
        text(encoded);
    }

    // One byte of text: a raw character or an escaped one.
    void byte(unsigned char value, bool escaped = false) {
        m_starred = false;
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return;
        }
        switch (m_state.destination) {
        case Destination::skip:
        case Destination::container:
            return;
        case Destination::colorTable:
            if (value == ';') {
                if (m_colors.size() < 4096) m_colors.push_back(m_colorPending);
                m_colorPending.reset();
            }
            return;
        case Destination::picture:
            if (hexValue(static_cast<char>(value)) >= 0 && m_picture.hex.size() < m_in.size())
                m_picture.hex.push_back(static_cast<char>(value));
            return;
        case Destination::fontTable:
            if (!escaped && value == ';') {
                commitFont();
                return;
            }
            break;
        case Destination::fieldInstruction:
        case Destination::text:
            break;
        }
        if (value == 0) return;
        m_bytes.push_back(static_cast<char>(value));
    }

    // Decodes the collected bytes in the code page of their font.
    void flushBytes() {
        if (m_bytes.empty()) return;
        std::string bytes = std::move(m_bytes);
        m_bytes.clear();
        int codePage = m_documentCodePage;
        const bool inFontTable = isFontTable(m_state.destination);
        const int fontPage = inFontTable ? m_fontEntry.codePage : fontCodePage();
        if (fontPage != 0) codePage = fontPage;
        std::string decoded = m_codePages.decode(bytes, codePage);
        if (inFontTable) {
            m_fontEntry.name += decoded;
            return;
        }
        emit(decoded);
    }

    int fontCodePage() const {
        const auto found = m_fonts.find(m_state.font);
        return found == m_fonts.end() ? 0 : found->second.codePage;
    }

    void text(std::string_view utf8Text) {
        flushBytes();
        if (m_state.destination == Destination::text ||
            m_state.destination == Destination::fieldInstruction)
            emit(std::string(utf8Text));
    }

    void emit(const std::string& decoded) {
        if (decoded.empty()) return;
        if (m_state.destination == Destination::fieldInstruction) {
            if (m_instruction.size() < 65536) m_instruction += decoded;
            return;
        }
        if (m_state.destination != Destination::text || m_state.hidden) return;
        // Control characters are no text; line and paragraph ends come from control words.
        std::string shown;
        shown.reserve(decoded.size());
        for (const char c : decoded)
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') shown.push_back(c);
        if (shown.empty()) return;
        takePendingCell();
        m_out.append(shown, resolvedStyle(m_state));
    }

    void takePendingCell() {
        if (!std::exchange(m_cellPending, false)) return;
        m_out.append("\t", resolvedStyle(m_state));
    }

    void paragraphEnd() {
        flushBytes();
        if (m_state.destination != Destination::text) return;
        m_cellPending = false;
        m_out.setParagraphStyle(m_state.paragraph);
        m_out.append("\n", resolvedStyle(m_state));
    }

    CharacterStyle resolvedStyle(const GroupState& state) const {
        CharacterStyle style = state.chars;
        if (const auto font = m_fonts.find(state.font); font != m_fonts.end())
            style.fontFamily = font->second.name;
        style.foreground = colorAt(state.foreground);
        style.background = colorAt(state.background);
        return style;
    }

    std::optional<Color> colorAt(int index) const {
        if (index <= 0 || static_cast<std::size_t>(index) >= m_colors.size()) return std::nullopt;
        return m_colors[static_cast<std::size_t>(index)];
    }

    // The target of a HYPERLINK field instruction, or empty.
    static std::string hyperlinkTarget(std::string_view instruction) {
        const std::size_t keyword = instruction.find("HYPERLINK");
        if (keyword == std::string_view::npos) return {};
        std::string_view rest = instruction.substr(keyword + 9);
        const std::size_t open = rest.find('"');
        if (open == std::string_view::npos) return {};
        // A link to a place inside the document (\l) has no target outside it.
        if (rest.substr(0, open).find("\\l") != std::string_view::npos) return {};
        const std::size_t close = rest.find('"', open + 1);
        if (close == std::string_view::npos) return {};
        return std::string(rest.substr(open + 1, close - open - 1));
    }

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    std::string_view m_in;
    std::stop_token m_stop;
    std::size_t m_pos = 0;

    GroupState m_state;
    std::vector<GroupState> m_stack;
    bool m_starred = false;
    int m_pendingSkip = 0;
    char32_t m_highSurrogate = 0;
    bool m_cellPending = false;

    std::string m_bytes;
    int m_documentCodePage = 1252;
    Rtf::CodePages m_codePages;

    std::map<int, Font> m_fonts;
    Font m_fontEntry;
    int m_fontNumber = 0;
    int m_defaultFont = 0;

    std::vector<std::optional<Color>> m_colors;
    std::optional<Color> m_colorPending;

    Picture m_picture;
    std::string m_instruction;

    AttributedText m_out;
};

} // namespace

AttributedText read(std::string_view rtf, std::stop_token stop) {
    if (rtf.size() > maxBytes) fail("документ слишком велик", maxBytes);
    return Parser(rtf, std::move(stop)).run();
}

AttributedText readPackage(const std::filesystem::path& package, std::stop_token stop) {
    const std::filesystem::path document = package / "TXT.rtf";
    const UniqueFd fd(::open(document.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd) throw SystemError("Не удалось открыть", document, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw SystemError("Не удалось открыть", document, errno);
    if (!S_ISREG(info.st_mode)) throw SystemError("Не удалось открыть", document, EINVAL);
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        fail("документ слишком велик", maxBytes);
    std::string bytes;
    const int failure =
        readToEnd(fd.get(), static_cast<std::size_t>(info.st_size), maxBytes, bytes, stop);
    if (failure == EFBIG) fail("документ слишком велик", maxBytes);
    if (failure != 0) throw SystemError("Не удалось прочитать", document, failure);
    return read(bytes, std::move(stop));
}

} // namespace lumatra::RtfReader
