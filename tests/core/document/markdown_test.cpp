#include "document/markdown.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

const std::string pageStart = "<!doctype html><html><head><meta charset=\"utf-8\"><title>";
const std::string bodyStart = "</title></head>\n<body style=\"font-family: -apple-system, "
                              "Helvetica; font-size: 13pt\">\n";
const std::string pageEnd = "\n</body></html>";

// The body of the page rendered from `markdown`.
std::string body(const std::string& markdown) {
    const std::string page = Markdown::html(markdown, "t");
    const auto start = page.find(bodyStart);
    EXPECT_NE(start, std::string::npos);
    EXPECT_EQ(page.substr(page.size() - pageEnd.size()), pageEnd);
    const auto from = start + bodyStart.size();
    return page.substr(from, page.size() - pageEnd.size() - from);
}

struct Case {
    std::string input;
    std::string expected;
};

void expectBodies(const std::vector<Case>& cases) {
    for (const auto& c : cases)
        EXPECT_EQ(body(c.input), c.expected) << "input: " << c.input;
}

TEST(Markdown, PageFrameAndTitle) {
    EXPECT_EQ(Markdown::html("", "Заметки"), pageStart + "Заметки" + bodyStart + pageEnd);
    EXPECT_EQ(Markdown::html("", "a < b & \"c\""),
              pageStart + "a &lt; b &amp; &quot;c&quot;" + bodyStart + pageEnd);
    EXPECT_EQ(Markdown::html("x", "t"), pageStart + "t" + bodyStart + "<p>x</p>" + pageEnd);
}

TEST(Markdown, HeadingsNeedOneToSixMarksAndASpace) {
    expectBodies({
        {"# Привет", "<h1>Привет</h1>"},
        {"## Title ##", "<h2>Title ##</h2>"},
        {"###### six", "<h6>six</h6>"},
        {"####### seven", "<p>####### seven</p>"},
        {"#Title", "<p>#Title</p>"},
        {"#", "<p>#</p>"},
        {"  ###   spaced   ", "<h3>spaced</h3>"},
        {"#\tTab", "<p>#\tTab</p>"},
        {"# *a* & b", "<h1><i>a</i> &amp; b</h1>"},
    });
}

TEST(Markdown, ParagraphsRulesAndQuotes) {
    expectBodies({
        {"one\ntwo\n  three  ", "<p>one two three</p>"},
        {"one\n\ntwo", "<p>one</p>\n<p>two</p>"},
        {"a\n---\nb", "<p>a</p>\n<hr>\n<p>b</p>"},
        {"***\n___", "<hr>\n<hr>"},
        {"----", "<p>----</p>"},
        {"> a\n> b", "<blockquote>a</blockquote>\n<blockquote>b</blockquote>"},
        {"text\n>quoted *it*", "<p>text</p>\n<blockquote>quoted <i>it</i></blockquote>"},
        {"\u00a0\u2003x\u3000", "<p>x</p>"},
    });
}

TEST(Markdown, ListsOpenCloseAndSwitchKind) {
    expectBodies({
        {"- a\n* b\n+ c\n1. d",
         "<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n</ul>\n<ol>\n<li>d</li>\n</ol>"},
        {"- a\n\n- b", "<ul>\n<li>a</li>\n</ul>\n<ul>\n<li>b</li>\n</ul>"},
        {"- [x] done\n- [ ] todo\n- [X] big",
         "<ul>\n<li>\u2611 done</li>\n<li>\u2610 todo</li>\n<li>\u2611 big</li>\n</ul>"},
        {"1. [x] a", "<ol>\n<li>[x] a</li>\n</ol>"},
        {"- [x]", "<ul>\n<li>[x]</li>\n</ul>"},
        {"12. twelve\n\u0663. arabic\n\u00bd. half",
         "<ol>\n<li>twelve</li>\n<li>arabic</li>\n<li>half</li>\n</ol>"},
        {"1.no space", "<p>1.no space</p>"},
        {"-a", "<p>-a</p>"},
        {"para\n- item\nafter", "<p>para</p>\n<ul>\n<li>item</li>\n</ul>\n<p>after</p>"},
        {"- item\n# head", "<ul>\n<li>item</li>\n</ul>\n<h1>head</h1>"},
    });
}

TEST(Markdown, FencedCodeKeepsItsLinesVerbatim) {
    expectBodies({
        {"```cpp\n  if (a < b) **x**\n```", "<pre><code>  if (a &lt; b) **x**</code></pre>"},
        {"para\n```\ncode\n```\nafter", "<p>para</p>\n<pre><code>code</code></pre>\n<p>after</p>"},
        {"```\nnever closed\n# not a heading",
         "<pre><code>never closed\n# not a heading</code></pre>"},
        {"text\n```", "<p>text</p>\n<pre><code></code></pre>"},
        {"- a\n```\nx\n```", "<ul>\n<li>a</li>\n</ul>\n<pre><code>x</code></pre>"},
        {"```\n\n\n```", "<pre><code>\n</code></pre>"},
    });
}

TEST(Markdown, CrLfEqualsLfAndLoneCrStaysInTheLine) {
    EXPECT_EQ(body("# a\r\n- b\r\n\r\ntext\r\n"), body("# a\n- b\n\ntext\n"));
    EXPECT_EQ(body("a\rb"), "<p>a\rb</p>");
    EXPECT_EQ(body("```\r\nx\r\n```"), "<pre><code>x</code></pre>");
}

TEST(Markdown, InlineFormsInTheirOrder) {
    const std::vector<Case> cases = {
        {"Hello *world*", "Hello <i>world</i>"},
        {"**a** and *b*", "<b>a</b> and <i>b</i>"},
        {"__a__ _b_", "<b>a</b> _b_"},
        {"~~x~~ ~y~", "<s>x</s> ~y~"},
        {"`a*b*c`", "<code>a<i>b</i>c</code>"},
        {"`` empty", "`` empty"},
        {"![](pic.png)", "<img alt=\"\" src=\"pic.png\">"},
        {"![кот](cat.png) [сайт](page.html)",
         "<img alt=\"кот\" src=\"cat.png\"> <a href=\"page.html\">сайт</a>"},
        {"[site](page.html?b=1&c=2)", "<a href=\"page.html?b=1&amp;c=2\">site</a>"},
        {"[a](has space)", "[a](has space)"},
        {"[a](nbsp\u00a0x)", "[a](nbsp\u00a0x)"},
        {"[](empty)", "[](empty)"},
        {"[x](\"onclick)", "<a href=\"&quot;onclick\">x</a>"},
        {"[[a](b)", "<a href=\"b\">[a</a>"}, // the label may hold "["
        {"[a] (b) [c](d)", "[a] (b) <a href=\"d\">c</a>"},
        {"***a**", "*<b>a</b>"},
        {"**a*b**", "*<i>a</i>b**"},
        {"<b>&</b>", "&lt;b&gt;&amp;&lt;/b&gt;"},
        {"a * b * c", "a <i> b </i> c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Markdown::inlineHtml(c.input), c.expected) << "input: " << c.input;
}

TEST(Markdown, LongAdversarialLinesStayLinear) {
    // Every opening bracket shares one far-away closing one: looked at once, not once
    // for each opening (which would take minutes here).
    const std::string open(300000, '[');
    EXPECT_EQ(Markdown::inlineHtml(open + "](x)"), "<a href=\"x\">" + open.substr(1) + "</a>");
    EXPECT_EQ(Markdown::inlineHtml(open + "] (x)"), open + "] (x)");
    EXPECT_EQ(Markdown::inlineHtml("!" + open + "](x y)"), "!" + open + "](x y)");
    const std::string stars = std::string(300000, '*') + "a";
    EXPECT_EQ(Markdown::inlineHtml(stars), stars);
    const std::string ticks(300000, '`');
    EXPECT_EQ(Markdown::inlineHtml(ticks), ticks);
}

TEST(Markdown, HelpersClassifyTrimmedLines) {
    EXPECT_EQ(Markdown::heading("### x"), 3);
    EXPECT_EQ(Markdown::heading("###"), std::nullopt);
    EXPECT_EQ(Markdown::listItem("* [ ] a"), (Markdown::ListItem{"ul", "\u2610 a"}));
    EXPECT_EQ(Markdown::listItem("7. seven"), (Markdown::ListItem{"ol", "seven"}));
    EXPECT_EQ(Markdown::listItem("7 seven"), std::nullopt);
    EXPECT_EQ(Markdown::trimmed("\t\u00a0 a b \u2009"), "a b");
    EXPECT_EQ(Markdown::trimmed("\u2028a"), "\u2028a");
}

} // namespace
} // namespace lumatra
