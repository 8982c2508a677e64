#include "document/markdown.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumatra {
namespace {

const std::string pageStart = "<!doctype html><html><head><meta charset=\"utf-8\"><title>";
const std::string bodyStart =
    "</title><style>h1, h2, h3, h4, h5, h6, th, summary { font-family: \"DejaVu Sans\", "
    "Helvetica, sans-serif } pre, code, kbd, samp { font-family: \"DejaVu Sans Mono\", "
    "monospace }</style></head>\n<body style=\"font-family: -apple-system, Helvetica; "
    "font-size: 13pt\">\n";
const std::string pageEnd = "\n</body></html>";

struct Case {
    std::string input;
    std::string expected;
};

void expectBodies(const std::vector<Case>& cases) {
    for (const auto& c : cases)
        EXPECT_EQ(Markdown::bodyHtml(c.input), c.expected) << "input: " << c.input;
}

TEST(Markdown, PageFrameAndTitle) {
    EXPECT_EQ(Markdown::html("", "Заметки"), pageStart + "Заметки" + bodyStart + pageEnd);
    EXPECT_EQ(Markdown::html("", "a < b & \"c\""),
              pageStart + "a &lt; b &amp; &quot;c&quot;" + bodyStart + pageEnd);
    EXPECT_EQ(Markdown::html("x", "t"), pageStart + "t" + bodyStart + "<p>x</p>" + pageEnd);
}

// The constructs everyday READMEs are written with, each once.
TEST(Markdown, ReadmeConstructs) {
    expectBodies({
        {"Title\n=====\nSub\n---", "<h1>Title</h1>\n<h2>Sub</h2>"},
        {"## Install ##", "<h2>Install</h2>"},
        {"#Title", "<p>#Title</p>"},
        {"####### seven", "<p>####### seven</p>"},
        {"- a\n  - b\n    - c",
         "<ul>\n<li>a\n<ul>\n<li>b\n<ul>\n<li>c</li>\n</ul>\n</li>\n</ul>\n</li>\n</ul>"},
        {"1. one\n\n   ```\n   make\n   ```\n2. two",
         "<ol>\n<li>\n<p>one</p>\n<pre><code>make\n</code></pre>\n</li>\n<li>\n<p>two</p>\n"
         "</li>\n</ol>"},
        {"- first line\n  second line", "<ul>\n<li>first line\nsecond line</li>\n</ul>"},
        {"3. c\n4. d", "<ol start=\"3\">\n<li>c</li>\n<li>d</li>\n</ol>"},
        {"[site](https://a.example \"Home\")",
         "<p><a href=\"https://a.example\" title=\"Home\">site</a></p>"},
        {"[docs][] and [Docs]\n\n[docs]: /manual 'Manual'",
         "<p><a href=\"/manual\" title=\"Manual\">docs</a> and "
         "<a href=\"/manual\" title=\"Manual\">Docs</a></p>"},
        {"<https://a.example/x?y=1&z=2>",
         "<p><a href=\"https://a.example/x?y=1&amp;z=2\">https://a.example/x?y=1&amp;z=2</a></p>"},
        {"one  \ntwo\\\nthree", "<p>one<br>\ntwo<br>\nthree</p>"},
        {"`a*b*` 2 * 3 * 4 _it_ \\*", "<p><code>a*b*</code> 2 * 3 * 4 <em>it</em> *</p>"},
        {"para\n\n    code  <x>\n\n    more", "<p>para</p>\n<pre><code>code  &lt;x&gt;\n\nmore\n"
                                              "</code></pre>"},
        {"> a\n> b\n>\n> - c", "<blockquote>\n<p>a\nb</p>\n<ul>\n<li>c</li>\n</ul>\n</blockquote>"},
        {"***\n- - -\n___", "<hr>\n<hr>\n<hr>"},
    });
}

TEST(Markdown, PipeTables) {
    expectBodies({
        {"| a | b |\n|:--|--:|\n| 1 | `x\\|y` |\n| 2 |",
         "<table>\n<thead>\n<tr>\n<th align=\"left\">a</th>\n<th align=\"right\">b</th>\n</tr>\n"
         "</thead>\n<tbody>\n<tr>\n<td align=\"left\">1</td>\n<td align=\"right\"><code>x|y"
         "</code></td>\n</tr>\n<tr>\n<td align=\"left\">2</td>\n<td align=\"right\"></td>\n"
         "</tr>\n</tbody>\n</table>"},
        // The paragraph above the header row stays a paragraph; a blank line ends the table.
        {"text\na | b\n:-: | ---\n\nafter",
         "<p>text</p>\n<table>\n<thead>\n<tr>\n<th align=\"center\">a</th>\n<th>b</th>\n</tr>\n"
         "</thead>\n</table>\n<p>after</p>"},
        // Header and delimiter row must have as many cells.
        {"| a | b |\n| --- |", "<p>| a | b |\n| --- |</p>"},
        {"a\n---", "<h2>a</h2>"},
    });
}

TEST(Markdown, TaskListsAndStrikeThrough) {
    expectBodies({
        {"- [x] done\n- [ ] todo\n- [X] big",
         "<ul>\n<li>\u2611 done</li>\n<li>\u2610 todo</li>\n<li>\u2611 big</li>\n</ul>"},
        {"1. [x] a", "<ol>\n<li>\u2611 a</li>\n</ol>"},
        {"- [x]", "<ul>\n<li>[x]</li>\n</ul>"},
        {"- [x] a\n\n- [ ] b",
         "<ul>\n<li>\n<p>\u2611 a</p>\n</li>\n<li>\n<p>\u2610 b</p>\n</li>\n</ul>"},
        {"~~x~~ ~y~ ~~~z~~~", "<p><s>x</s> ~y~ ~~~z~~~</p>"},
    });
}

TEST(Markdown, LineEndings) {
    EXPECT_EQ(Markdown::bodyHtml("# a\r\n- b\r\n\r\ntext\r\n"),
              Markdown::bodyHtml("# a\n- b\n\ntext\n"));
    EXPECT_EQ(Markdown::bodyHtml("a\rb"), "<p>a\nb</p>");
    EXPECT_EQ(Markdown::bodyHtml("```\r\nx\r\n```"), "<pre><code>x\n</code></pre>");
    EXPECT_EQ(Markdown::bodyHtml("```\nnever closed\n# not a heading"),
              "<pre><code>never closed\n# not a heading\n</code></pre>");
}

// The document comes from a stranger and the page goes on to another program: HTML it
// holds keeps its formatting, never a script, a style, a frame, a form, an event or an
// address that runs a script.
TEST(Markdown, RawHtmlKeepsOnlyWhatIsSafe) {
    expectBodies({
        // Comments and the like show nothing, and end nowhere but where they ended.
        {"<!-- Do not edit this file -->\n# Title",
         "<!-- Do not edit this file -->\n<h1>Title</h1>"},
        {"a <!-- x --!><script>y</script> --> <?p > <b onclick=z> ?> <!DOCTYPE y> <![CDATA[z]]>",
         "<p>a <!-- x --!&gt;&lt;script&gt;y&lt;/script&gt; --> <?p &gt; &lt;b onclick=z&gt; ?> "
         "<!DOCTYPE y> </p>"},
        {"<script>alert(1)</script>\n\ntext", "\n<p>text</p>"},
        {"<style>p{}</style>\n<iframe src=\"https://x\"></iframe>", "\n"},
        {"<div align=\"center\" onclick=\"x\" style=\"y\">\n\n*a*\n\n</div>",
         "<div align=\"center\">\n<p><em>a</em></p>\n</div>"},
        {"<details><summary>More</summary>\n\nHidden **text**\n\n</details>",
         "<details><summary>More</summary>\n<p>Hidden <strong>text</strong></p>\n</details>"},
        {"<p align=\"center\">\n  <img src=\"logo.png\" alt=\"Logo\" width=\"100\" onerror=x "
         "/>\n</p>",
         "<p align=\"center\">\n  <img src=\"logo.png\" alt=\"Logo\" width=\"100\">\n</p>"},
        {"a<br>b <b>c</b> <kbd>Ctrl</kbd> <sub>1</sub><sup>2</sup> <s>d</s> <x-y>e</x-y>",
         "<p>a<br>b <b>c</b> <kbd>Ctrl</kbd> <sub>1</sub><sup>2</sup> <s>d</s> e</p>"},
        {"<a href=\"docs/x.md\">x</a> <a href=\"javascript:y\">y</a> <a href=\" "
         "JaVa\tscript:z\">z</a> "
         "<a href=\"https://e.org/?a=1&b\">e</a> <a href=\"javascript&#58w\">w</a>",
         "<p><a href=\"docs/x.md\">x</a> <a>y</a> <a>z</a> <a "
         "href=\"https://e.org/?a=1&amp;b\">e</a> <a href=\"javascript&amp;#58w\">w</a></p>"},
        {"<table>\n<tr><td colspan=\"2\">a</td></tr>\n</table>",
         "<table>\n<tr><td colspan=\"2\">a</td></tr>\n</table>"},
        {"<form action=\"x\"><input name=\"y\"></form> t", " t"},
        {"text <span title='a\"b'>q</span>", "<p>text <span title=\"a&quot;b\">q</span></p>"},
        {"[x](javascript:alert(1)) [y](JavaScript:z) <vbscript:x>",
         "<p><a href=\"\">x</a> <a href=\"\">y</a> <a href=\"\">vbscript:x</a></p>"},
        {"[a](data:text/html,x) ![b](DATA:image/png;base64,AA==)",
         "<p><a href=\"\">a</a> <img src=\"DATA:image/png;base64,AA==\" alt=\"b\"></p>"},
        {"[x](\"onclick=) ![\"](a\"b)",
         "<p><a href=\"&quot;onclick=\">x</a> <img src=\"a&quot;b\" alt=\"&quot;\"></p>"},
        {"![a *b* `c` [d](e)](p.png)", "<p><img src=\"p.png\" alt=\"a b c d\"></p>"},
        {"&lt;b&gt; &amp; &#0; &#x110000; &bogus; 1 < 2",
         "<p>&lt;b&gt; &amp; \uFFFD \uFFFD &amp;bogus; 1 &lt; 2</p>"},
        {std::string("a\0b", 3), "<p>a\uFFFDb</p>"},
    });
}

// Inputs built to make a careless parser quadratic or to exhaust its stack: each must
// come back quickly and whole.
TEST(Markdown, AdversarialInputsStayLinearAndShallow) {
    const std::size_t n = 100000;
    const std::string quotes(n, '>');
    const std::string quoted = Markdown::bodyHtml(quotes + " deep");
    EXPECT_NE(quoted.find("deep"), std::string::npos);
    EXPECT_LT(quoted.size(), 5 * n);

    std::string lists;
    for (std::size_t i = 0; i < 1000; ++i)
        lists += std::string(2 * i, ' ') + "- item\n";
    const std::string nested = Markdown::bodyHtml(lists);
    EXPECT_NE(nested.find("item</li>"), std::string::npos);

    const std::string brackets(n, '[');
    EXPECT_TRUE(Markdown::bodyHtml(brackets + "a](x)") ==
                "<p>" + brackets.substr(1) + "<a href=\"x\">a</a></p>");
    std::string links;
    for (std::size_t i = 0; i < n / 8; ++i)
        links += "![[a](b)";
    EXPECT_NE(Markdown::bodyHtml(links).find("<a href=\"b\">a</a>"), std::string::npos);
    const std::string stars = std::string(n, '*') + "a" + std::string(n / 2, '_');
    EXPECT_TRUE(Markdown::bodyHtml(stars) == "<p>" + stars + "</p>");
    std::string emphasis;
    for (std::size_t i = 0; i < n / 4; ++i)
        emphasis += "*a _b ";
    EXPECT_EQ(Markdown::bodyHtml(emphasis).find("<em>"), std::string::npos);
    std::string ticks;
    for (std::size_t i = 1; i < 600; ++i)
        ticks += std::string(i, '`') + "x";
    EXPECT_EQ(Markdown::bodyHtml(ticks).find("<code>"), std::string::npos);
    std::string escaped;
    for (std::size_t i = 1; i < n; ++i)
        escaped += "&lt;";
    EXPECT_TRUE(Markdown::bodyHtml(std::string(n, '<') + "ab:c>") ==
                "<p>" + escaped + "<a href=\"ab:c\">ab:c</a></p>");
    // A wide header over many one-character rows: the rows are not all padded out.
    std::string table;
    for (std::size_t i = 0; i < 20000; ++i)
        table += "|a";
    table += "\n";
    for (std::size_t i = 0; i < 20000; ++i)
        table += "|-";
    table += "\n";
    for (std::size_t i = 0; i < 20000; ++i)
        table += "b\n";
    EXPECT_LT(Markdown::bodyHtml(table).size(), 40 * table.size());
    // Openings of raw HTML that never close.
    for (const std::string opening : {"<!--", "<?", "<![CDATA[", "<!a", "<a b=\"", "<a b='"}) {
        std::string unclosed;
        for (std::size_t i = 0; i < n / 10; ++i)
            unclosed += opening + "x ";
        EXPECT_NE(Markdown::bodyHtml(unclosed).find("x"), std::string::npos) << opening;
    }
    std::string definitions;
    for (std::size_t i = 0; i < n / 10; ++i)
        definitions += "[a" + std::to_string(i) + "]: /u\n";
    EXPECT_EQ(Markdown::bodyHtml(definitions + "[a99]"), "<p><a href=\"/u\">a99</a></p>");
}

} // namespace
} // namespace lumatra
