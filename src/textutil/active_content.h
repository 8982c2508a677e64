#pragma once
// What a web page may do besides showing its text: reload itself or go elsewhere, run
// scripts, pull in other pages. The engine would follow a refresh for ever; none of it
// belongs in a converted document.

#include <string>
#include <string_view>

namespace lumatra::textutil {

/// `html` without what makes a page act: <meta> tags that refresh or redirect the page
/// (any tag with "refresh" in it), <script> elements with their content, and the tags
/// of frames and embedded objects (frame, frameset, iframe, object, embed, applet,
/// base), whose fallback text stays. Comments and declarations stay, with any '<' inside
/// them written "&lt;"; so does a '<' that opens no tag, and every '<' from a tag that
/// never closes on. So no removal can join the text around it into a new tag, and
/// applying this twice changes nothing more. Linear in the size of `html`.
std::string withoutActiveContent(std::string_view html);

} // namespace lumatra::textutil
