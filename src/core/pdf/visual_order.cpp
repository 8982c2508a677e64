#include "pdf/visual_order.h"

#include "text/utf8.h"

#include <glib.h>

#include <algorithm>
#include <cmath>

namespace lumatra::VisualOrder {
namespace {

bool isMark(char32_t c) {
    return g_unichar_ismark(static_cast<gunichar>(c)) != 0;
}

enum class Direction { left, right, neutral };

Direction directionOf(const std::u32string& text) {
    for (const char32_t c : text) {
        if (isRightToLeft(c)) return Direction::right;
        if (isLeftToRight(c) || (c >= '0' && c <= '9') || (c >= 0x0660 && c <= 0x0669) ||
            (c >= 0x06F0 && c <= 0x06F9))
            return Direction::left;
    }
    return Direction::neutral;
}

std::string utf8Of(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text)
        utf8::appendCodePoint(out, c);
    return out;
}

struct Item {
    std::u32string text;
    std::size_t word;
    Direction direction;
};

// Reverses every maximal run of items of `direction`, spaces between two of them
// included.
void reverseRuns(std::vector<Item>& items, Direction direction) {
    std::size_t i = 0;
    while (i < items.size()) {
        if (items[i].direction != direction) {
            ++i;
            continue;
        }
        std::size_t end = i + 1; // one past the last item of the run
        for (std::size_t j = i + 1; j < items.size(); ++j) {
            if (items[j].direction == direction)
                end = j + 1;
            else if (items[j].direction != Direction::neutral)
                break;
        }
        std::reverse(items.begin() + static_cast<std::ptrdiff_t>(i),
                     items.begin() + static_cast<std::ptrdiff_t>(end));
        i = end;
    }
}

} // namespace

bool isRightToLeft(char32_t c) {
    if ((c >= 0x0660 && c <= 0x0669) || (c >= 0x06F0 && c <= 0x06F9)) return false;
    return (c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) ||
           (c >= 0xFE70 && c <= 0xFEFF) || (c >= 0x10800 && c <= 0x10FFF) ||
           (c >= 0x1E800 && c <= 0x1EFFF);
}

bool isLeftToRight(char32_t c) {
    return !isRightToLeft(c) && g_unichar_isalpha(static_cast<gunichar>(c)) != 0;
}

std::vector<Token> logicalLine(std::vector<Piece> pieces, bool rightToLeft, double spaceGap) {
    // A mark drawn apart belongs to the glyph under its middle (or the nearest one),
    // after which it is read.
    std::vector<Piece> bases;
    std::vector<Piece> marks;
    for (Piece& piece : pieces) {
        const bool onlyMarks =
            !piece.text.empty() && std::all_of(piece.text.begin(), piece.text.end(), isMark);
        (onlyMarks ? marks : bases).push_back(std::move(piece));
    }
    if (bases.empty()) return {};
    std::stable_sort(bases.begin(), bases.end(),
                     [](const Piece& a, const Piece& b) { return a.left < b.left; });
    for (const Piece& mark : marks) {
        const double middle = (mark.left + mark.right) / 2;
        // A right-to-left shaper draws a mark from its base's left edge, shifted over it;
        // one that lies over no glyph goes to the glyph whose left edge is nearest.
        const bool fromLeftEdge = isRightToLeft(mark.text.front());
        std::size_t best = 0;
        double bestDistance = -1;
        for (std::size_t i = 0; i < bases.size(); ++i) {
            const double distance = middle < bases[i].left    ? bases[i].left - middle
                                    : middle > bases[i].right ? middle - bases[i].right
                                                              : 0;
            if (bestDistance < 0 || distance < bestDistance) {
                best = i;
                bestDistance = distance;
            }
        }
        if (bestDistance > 0 && fromLeftEdge) {
            for (std::size_t i = 0; i < bases.size(); ++i)
                if (std::abs(bases[i].left - mark.left) < std::abs(bases[best].left - mark.left))
                    best = i;
        }
        // The mark's room belongs to its glyph: no gap opens beside it.
        bases[best].text += mark.text;
        bases[best].left = std::min(bases[best].left, mark.left);
        bases[best].right = std::max(bases[best].right, mark.right);
    }

    // Left to right as drawn, spaces where the gaps are.
    std::vector<Item> items;
    for (std::size_t i = 0; i < bases.size(); ++i) {
        if (i > 0 && bases[i].left - bases[i - 1].right > spaceGap)
            items.push_back({U" ", bases[i - 1].word, Direction::neutral});
        const Direction direction = directionOf(bases[i].text);
        items.push_back({std::move(bases[i].text), bases[i].word, direction});
    }
    if (rightToLeft) {
        std::reverse(items.begin(), items.end());
        reverseRuns(items, Direction::left);
    } else {
        reverseRuns(items, Direction::right);
    }
    std::vector<Token> tokens;
    tokens.reserve(items.size());
    for (const Item& item : items)
        tokens.push_back({utf8Of(item.text), item.word});
    return tokens;
}

} // namespace lumatra::VisualOrder
