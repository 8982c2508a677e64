#pragma once
// The writer of XML property lists (version 1.0) over the data tree.

#include "data/node.h"
#include "data/sink.h"

namespace lumatra::Plist {

/// Writes one XML property list into a sink: `begin`, then either one `value` or, for a
/// top-level array handed over item by item, `beginArray`, an `item` per element and
/// `endArray`; then `end`.
///
/// Numbers that are whole decimal integers within the 64-bit range (signed, or unsigned
/// when not negative) become integers, other readable numbers reals, anything else
/// strings; null becomes the empty string; keys are written sorted by code point and of a
/// repeated key the last value wins. Text is repaired to well-formed UTF-8 and escaped;
/// a carriage return is written as "&#13;" so that it survives reading. Characters that
/// XML 1.0 cannot carry at all (the other control characters below U+0020 but tab and
/// line feed, U+FFFE and U+FFFF) fail the write with ConvertError::failed naming the
/// character: any stand-in would silently change the data.
class PlistWriter {
public:
    explicit PlistWriter(Sink& sink) : m_sink(sink) {}

    void begin();
    void value(const Node& node) { write(node, 0); }
    void beginArray() { m_items = 0; }
    void item(const Node& node);
    void endArray();
    void end();

private:
    void write(const Node& root, std::size_t depth);

    Sink& m_sink;
    std::size_t m_items = 0;
};

} // namespace lumatra::Plist
