#pragma once
// Text of right-to-left scripts as PDF pages draw it, put back into reading order.
//
// A PDF places glyphs, left to right across the page, in the order they show. Arabic
// and Hebrew read right to left, so a line's characters must be reordered; but some
// producers also attach the words' text in reading order (as actual text), which must
// then be left as it is. The caller splits a line into pieces accordingly; this orders
// the pieces.

#include <cstddef>
#include <string>
#include <vector>

namespace lumatra::VisualOrder {

/// Whether `c` belongs to a right-to-left script (Hebrew, Arabic, Syriac, Thaana, N'Ko
/// and their presentation forms); Arabic-Indic digits do not count, they run left to
/// right.
bool isRightToLeft(char32_t c);

/// Whether `c` is a letter of a left-to-right script.
bool isLeftToRight(char32_t c);

/// A stretch of a line as drawn: its characters in reading order (a single glyph, or a
/// word whose text the producer gave in reading order), where it lies across the page,
/// and the index of the word it came from.
struct Piece {
    std::u32string text;
    double left = 0;
    double right = 0;
    std::size_t word = 0;
};

/// A stretch of the line in reading order, UTF-8; a space between words carries the
/// index of the word before it.
struct Token {
    std::string text;
    std::size_t word = 0;
};

/// The line made of `pieces` (in any order), in reading order. Combining marks drawn
/// on their own join the piece they sit on (a right-to-left mark that sits on none, the
/// piece whose left edge is nearest its own); pieces further apart than `spaceGap` are
/// separated by a space. In a right-to-left paragraph (`rightToLeft`) the whole line
/// reads from the right, runs of left-to-right text and numbers from their left; in a
/// left-to-right one only the runs of right-to-left text are turned.
std::vector<Token> logicalLine(std::vector<Piece> pieces, bool rightToLeft, double spaceGap);

} // namespace lumatra::VisualOrder
