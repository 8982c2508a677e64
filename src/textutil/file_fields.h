#pragma once
// Fields of a rich-text document that pull another file in: INCLUDEPICTURE and
// INCLUDETEXT name any path on the machine, and the engine would read it into the
// converted document. A document's own content is all it may carry.

#include <string>
#include <string_view>

namespace lumatra::textutil {

/// `rtf` with the instruction of every field that names another file (INCLUDEPICTURE,
/// INCLUDETEXT, INCLUDE, IMPORT, LINK, DDE, DDEAUTO — however its letters are written:
/// any case, \'hh or \uN escapes) emptied, so the engine shows the result the document
/// stored for the field instead of reading the file. Everything else is kept byte for
/// byte. Linear in the size of `rtf`.
std::string withoutFileFields(std::string_view rtf);

} // namespace lumatra::textutil
