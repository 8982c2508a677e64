#include "file_fields.h"

#include "text/ascii.h"

#include <algorithm>
#include <array>

namespace lumatra::textutil {
namespace {

constexpr std::array<std::string_view, 7> fileFields = {
    "INCLUDEPICTURE", "INCLUDETEXT", "INCLUDE", "IMPORT", "LINK", "DDE", "DDEAUTO"};

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The engine takes the letters up to the first other character as the keyword, across
// any control word or group in between; a keyword that merely begins like a file field
// is taken as one, so no escape or formatting between letters can hide it.
bool isFileField(const std::string& word) {
    for (const auto field : fileFields)
        if (word.starts_with(field)) return true;
    return false;
}

// Reads the field's keyword from the characters of an instruction: white space before
// it, then letters.
class Keyword {
public:
    void restart() {
        end();
        m_word.clear();
        m_state = State::before;
    }
    void feed(char c) {
        if (m_state == State::done) return;
        if (m_state == State::before && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) return;
        if (isLetter(c)) {
            if (m_word.size() < 16) m_word += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
            m_state = State::inWord;
            return;
        }
        end();
    }
    void finish() { end(); }
    bool found() const { return m_found; }
    void reset() {
        restart();
        m_found = false;
    }

private:
    enum class State { before, inWord, done };
    void end() {
        if (m_state == State::inWord && isFileField(m_word)) m_found = true;
        m_state = State::done;
    }
    std::string m_word;
    State m_state = State::done;
    bool m_found = false;
};

} // namespace

std::string withoutFileFields(std::string_view rtf) {
    std::string out;
    out.reserve(rtf.size());
    long depth = 0;
    // Inside a field instruction: the depth of its group, and where its \fldinst begins
    // in `out`.
    long instructionDepth = -1;
    std::size_t instructionStart = 0;
    Keyword keyword;
    int unicodeSkip = 1; // characters after \uN that stand in for it
    int pendingSkip = 0;
    const auto character = [&](char c) {
        if (instructionDepth < 0) return;
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        keyword.feed(c);
    };
    for (std::size_t i = 0; i < rtf.size();) {
        const char c = rtf[i];
        if (c == '{' || c == '}') {
            pendingSkip = 0;
            if (c == '{') ++depth;
            if (c == '}' && depth == instructionDepth) {
                keyword.finish();
                if (keyword.found()) {
                    out.resize(instructionStart);
                    out += "\\fldinst ";
                }
                instructionDepth = -1;
            }
            if (c == '}') --depth;
            out += c;
            ++i;
            continue;
        }
        if (c != '\\') {
            if (c != '\r' && c != '\n') character(c);
            out += c;
            ++i;
            continue;
        }
        const std::size_t start = i;
        if (i + 1 >= rtf.size()) {
            out += rtf.substr(i);
            break;
        }
        const char next = rtf[i + 1];
        if (next == '\'') {
            // \'hh: one character by its code.
            const int high = i + 2 < rtf.size() ? ascii::hexValue(rtf[i + 2]) : -1;
            const int low = i + 3 < rtf.size() ? ascii::hexValue(rtf[i + 3]) : -1;
            i += high >= 0 && low >= 0 ? 4 : 2;
            if (high >= 0 && low >= 0) character(static_cast<char>(high * 16 + low));
            out += rtf.substr(start, i - start);
            continue;
        }
        if (!isLetter(next)) {
            // A control symbol: \\, \{ and \} stand for their character.
            i += 2;
            if (next == '\\' || next == '{' || next == '}') character(next);
            out += rtf.substr(start, i - start);
            continue;
        }
        std::size_t end = i + 1;
        while (end < rtf.size() && isLetter(rtf[end]))
            ++end;
        const std::string_view word = rtf.substr(i + 1, end - i - 1);
        const std::size_t numberStart = end;
        if (end < rtf.size() && rtf[end] == '-') ++end;
        while (end < rtf.size() && end - numberStart < 11 && rtf[end] >= '0' && rtf[end] <= '9')
            ++end;
        long parameter = 0;
        bool hasParameter = false;
        for (std::size_t k = numberStart; k < end; ++k) {
            if (rtf[k] == '-') continue;
            parameter = parameter * 10 + (rtf[k] - '0');
            hasParameter = true;
        }
        if (numberStart < end && rtf[numberStart] == '-') parameter = -parameter;
        if (end < rtf.size() && rtf[end] == ' ') ++end;
        i = end;
        if (word == "bin" && hasParameter && parameter > 0) {
            // Raw bytes follow, braces and all.
            const auto count =
                std::min<std::size_t>(static_cast<std::size_t>(parameter), rtf.size() - i);
            i += count;
            out += rtf.substr(start, i - start);
            continue;
        }
        if (word == "fldinst") {
            if (instructionDepth < 0) {
                instructionDepth = depth;
                instructionStart = out.size();
                keyword.reset();
            }
            // A field nested in the instruction has a keyword of its own.
            keyword.restart();
        } else if (instructionDepth >= 0) {
            if (word == "uc" && hasParameter && parameter >= 0 && parameter < 16)
                unicodeSkip = static_cast<int>(parameter);
            if (word == "u" && hasParameter) {
                const long code = parameter < 0 ? parameter + 65536 : parameter;
                if (pendingSkip == 0)
                    keyword.feed(code > 0 && code < 128 ? static_cast<char>(code) : '?');
                pendingSkip = unicodeSkip;
            }
        }
        out += rtf.substr(start, i - start);
    }
    // An instruction the text never closes is dropped just the same.
    keyword.finish();
    if (instructionDepth >= 0 && keyword.found()) {
        out.resize(instructionStart);
        out += "\\fldinst ";
    }
    return out;
}

} // namespace lumatra::textutil
