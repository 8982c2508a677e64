#pragma once
// The writer of XML property lists (version 1.0) over the data tree.

#include "data/node.h"
#include "data/sink.h"

namespace lumatra::Plist {

/// Writes one XML property list into a sink: `begin`, then either one `value` or, for an
/// array handed over item by item, `beginArray`, an `item` per element and `endArray`;
/// then `end`. A dictionary may be written member by member too: `beginDict`, then for
/// each member in key order its `key` followed by its value (either way) one level
/// deeper, and `endDict`.
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
    void value(const Node& node, std::size_t depth = 0) { write(node, depth); }
    void beginArray(std::size_t depth = 0) {
        m_items = 0;
        m_arrayDepth = depth;
    }
    void item(const Node& node);
    void endArray();
    void end();
    void beginDict(bool empty);
    void key(std::string_view text);
    void endDict();

private:
    void write(const Node& root, std::size_t depth);

    Sink& m_sink;
    std::size_t m_items = 0;
    std::size_t m_arrayDepth = 0;
    bool m_emptyDict = false;
};

} // namespace lumatra::Plist
