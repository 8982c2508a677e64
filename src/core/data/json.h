#pragma once
// The JSON reader and writer over the data tree.

#include "data/node.h"
#include "data/sink.h"

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace lumatra::JSON {

/// Reads a whole JSON document (a leading UTF-8 byte-order mark is skipped). Fails with
/// ConvertError::failed("Ошибка в JSON (символ N): …"), N being the 1-based byte offset
/// of the error after the byte-order mark. Containers nested deeper than 1024 levels are
/// refused ("слишком глубокая вложенность"), and so is a raw control character (00 to 1F,
/// tab and line break included) inside a string ("управляющий символ в строке").
Node parse(std::string_view bytes);

/// As `parse`, but when the document is an array its elements go to `onItem` one by one,
/// as soon as each is read, and the array comes back empty; any other document comes
/// back whole. An error is raised when it is reached, after the items before it. A
/// requested stop throws CancelledError.
Node parseItems(std::string_view bytes, const ItemHandler& onItem, std::stop_token stop = {});

/// Where a value lies in the input: byte offsets, end excluded.
struct Span {
    std::size_t begin;
    std::size_t end;
};
using MemberHandler = std::function<void(std::string&& key, Span value)>;

/// Checks a whole document as `parse` does (same errors) without keeping its values: when
/// it is an object, each member goes to `onMember` with the span of its value in `bytes`,
/// in document order, and an empty object comes back; any other document comes back as
/// an empty value of its kind, or whole when it is a scalar.
Node parseMembers(std::string_view bytes, const MemberHandler& onMember, std::stop_token stop = {});

/// Renders `node` at nesting level `indent`: pretty (two spaces a level, one member a
/// line) or compact (no whitespace). Number texts are written as they were read.
std::string write(const Node& node, int indent = 0, bool pretty = true);

/// As `write`, appending to `out`. Any depth of tree is written without recursion.
void appendTo(std::string& out, const Node& node, int indent = 0, bool pretty = true);

/// As `appendTo`, pretty, into a sink that it polls between values.
void writeTo(Sink& sink, const Node& node, int indent = 0);

/// `text` as a JSON string literal, quotes included.
std::string quote(std::string_view text);

/// As `quote`, appending to `out`.
void appendQuoted(std::string& out, std::string_view text);

/// As `appendQuoted`, for text the caller knows to be well-formed UTF-8.
void appendQuotedUtf8(std::string& out, std::string_view text);

} // namespace lumatra::JSON
