// Data files from strangers: hostile property lists, cancellation, large inputs and text
// that is nearly right, all through the real conversion route.
#include "converter/converter.h"
#include "core/data/binary_plist.h"
#include "data/data_converter.h"
#include "data/plist_bridge.h"
#include "formats/convert_error.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace lumatra {
namespace {

using test::binaryPlist;
using test::readFile;
using test::runProgram;
using test::ScratchDir;
using test::writeFile;

std::string failure(const std::string& bytes, const std::string& ext,
                    Format target = Format::json) {
    try {
        DataConverter::convert(bytes, ext, target);
    } catch (const ConvertError& error) {
        return error.errorDescription();
    }
    return "(converted)";
}

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

// An object reference three bytes wide, as the lists here declare them.
std::string reference(std::size_t object) {
    return {static_cast<char>(object >> 16), static_cast<char>(object >> 8),
            static_cast<char>(object)};
}

// An array of `count` integers 0, 1, 2, … (integer objects of four bytes).
std::string integerList(std::size_t count) {
    std::vector<std::string> objects(1);
    objects[0] = "\xAF\x12";
    for (int shift = 24; shift >= 0; shift -= 8)
        objects[0].push_back(static_cast<char>(count >> shift));
    for (std::size_t i = 0; i < count; ++i) {
        objects[0] += reference(i + 1);
        objects.push_back({'\x12', static_cast<char>(i >> 24), static_cast<char>(i >> 16),
                           static_cast<char>(i >> 8), static_cast<char>(i)});
    }
    return binaryPlist(objects, 3);
}

// Arrays nested `depth` deep around an empty one: object i holds object i + 1.
std::vector<std::string> chain(int depth) {
    std::vector<std::string> objects;
    for (int i = 1; i < depth; ++i)
        objects.push_back("\xA1" + reference(static_cast<std::size_t>(i)));
    objects.push_back("\xA0");
    return objects;
}

TEST(DataHostile, PropertyListsFailCleanlyWhateverTheirShape) {
    const std::string tooDeep = "Не удалось прочитать список свойств: слишком глубокая вложенность";
    const std::string unreadable = "Не удалось прочитать список свойств";
    const auto arrays = [](int depth) {
        return "<plist>" + repeated("<array>", depth) + repeated("</array>", depth) + "</plist>";
    };
    // Binary: each array refers twice to the next, 2^40 values once every reference is
    // copied.
    std::vector<std::string> doubled;
    for (int i = 1; i <= 40; ++i)
        doubled.push_back(std::string("\xA2") + char(i) + char(i));
    doubled.push_back("\x09");
    struct Case {
        std::string bytes, message;
    } cases[] = {
        // 2.8 MB of tags whose attribute holds "/>"
        {"<plist>" + repeated("<array a=\"/>\">", 200000), tooDeep},
        // "<" may not stand in an attribute
        {"<plist>" + repeated("<dict x=\"</dict>\"><key>k</key>", 5000), unreadable},

        {"<plist>" + repeated("<dict><key>k</key>", 1025), tooDeep},
        {arrays(1024), "(converted)"},
        {"<plist><array><!-- </array></array> --><array/></array></plist>", "(converted)"},
        // Entities are never expanded, however they are declared.
        {"<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
         "<plist><string>&b;&b;&b;</string></plist>",
         unreadable},
        {"<plist><string>x</string><string>y</string></plist>", unreadable},
        {"<plist><dict><key>k</key></dict></plist>", unreadable},
        {"<plist><integer>99999999999999999999</integer></plist>", unreadable},
        {"<plist><date>2024-13-01T00:00:00Z</date></plist>", unreadable},
        {"<plist><data>A*==</data></plist>", unreadable},
        {"<plist><array>", unreadable},
        {"<plist><blob/></plist>", unreadable},
        {std::string("<plist>\0</plist>", 16), unreadable},
        // Control characters XML forbids, raw or as references.
        {"<plist><string>a\x01"
         "b</string></plist>",
         unreadable},
        {"<plist><string>a&#1;b</string></plist>", unreadable},
        {arrays(100000), tooDeep},
        {binaryPlist(chain(1024), 3), "(converted)"},
        {binaryPlist(chain(1025), 3), tooDeep},
        {binaryPlist(chain(100000), 3), tooDeep},
        {binaryPlist({"\xA1\x01", std::string("\xA1\x00", 2)}), unreadable}, // a circle
        {binaryPlist(doubled), unreadable},
        {binaryPlist({"\xA1\x05"}), unreadable}, // a reference past the objects
        {"bplist00", unreadable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure(c.bytes, "plist"), c.message) << c.bytes.substr(0, 80);
}

TEST(DataScale, LargeBinaryPropertyListsReadInOnePass) {
    // 500,000 integers, 6 MB: read item by item through the offset table.
    const std::string list = integerList(500000);
    const std::string json = DataConverter::convert(list, "plist", Format::json);
    EXPECT_TRUE(json.starts_with("[\n  0,\n  1,\n")) << json.substr(0, 40);
    EXPECT_TRUE(json.ends_with(",\n  499999\n]\n"));
    const std::string table = DataConverter::convert(list, "plist", Format::csv);
    EXPECT_TRUE(table.ends_with("\r\n499998\r\n499999\r\n"));
}

TEST(DataScale, XmlDictionaryOutOfOrderIsWrittenAgainFromTheStart) {
    // Megabytes of a sorted member are written out before a key out of order shows up;
    // the file is then started again from the tree.
    std::string xml = "<plist><dict><key>b</key><array>";
    for (int i = 0; i < 200000; ++i)
        xml += "<integer>" + std::to_string(i) + "</integer>";
    xml += "</array><key>a</key><true/></dict></plist>";
    ScratchDir dir;
    writeFile(dir / "keys.plist", xml);
    DataConverter::convertFile(dir / "keys.plist", dir / "keys.json", Format::json, {});
    const std::string json = readFile(dir / "keys.json");
    EXPECT_EQ(json, DataConverter::write(DataConverter::read(xml, "plist"), Format::json));
}

TEST(DataCancel, EveryRouteEndsSoonAfterAStopAndLeavesNothing) {
    // Inputs that take seconds to convert; each run is stopped a moment after it starts.
    std::string records = "[";
    std::string table = "id,name,price,flag,city\n";
    for (int i = 0; i < 400000; ++i) {
        const std::string n = std::to_string(i);
        records += (i ? ",{\"id\":" : "{\"id\":") + n + ",\"name\":\"Клиент " + n +
                   "\",\"price\":12.5,\"flag\":true,\"tags\":[1,2]}";
        table += n + ",Клиент " + n + ",12.5,true,Москва\n";
    }
    records += "]";
    struct Case {
        std::string name, bytes;
        Format format;
    } cases[] = {
        {"records.json", records, Format::csv},
        {"records2.json", records, Format::plist},
        {"table.csv", table, Format::json},
        {"table2.csv", table, Format::plist},
        {"list.plist", integerList(1500000), Format::json},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        writeFile(dir / c.name, c.bytes);
        std::stop_source stop;
        std::chrono::steady_clock::time_point requested;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            requested = std::chrono::steady_clock::now();
            stop.request_stop();
        });
        EXPECT_THROW(Converter(Tools{}).run(dir / c.name, c.format, {}, {}, stop.get_token()),
                     CancelledError)
            << c.name;
        const auto ended = std::chrono::steady_clock::now();
        stopper.join();
        EXPECT_LT(ended - requested, std::chrono::seconds(1)) << c.name;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{c.name});
    }
}

TEST(DataText, XmlWeWriteIsWellFormedAndReadsBackOrIsRefused) {
    ScratchDir dir;
    // Tab, line feed and carriage return survive; the CR is written as a reference.
    const std::string json = R"([{"k\r":"a\r\nb\tc","x":"<&>"}])";
    const std::string xml = DataConverter::convert(json, "json", Format::plist);
    EXPECT_NE(xml.find("<key>k&#13;</key>"), std::string::npos) << xml;
    writeFile(dir / "out.plist", xml);
    const auto lint = runProgram({"xmllint", "--noout", (dir / "out.plist").string()});
    EXPECT_EQ(lint.status, 0) << lint.err;
    EXPECT_EQ(DataConverter::read(xml, "plist"), DataConverter::read(json, "json"));

    // Characters XML 1.0 cannot hold are refused by name rather than changed.
    struct Case {
        std::string json, message;
    } cases[] = {
        {R"(["a\u0001b"])", "Символ U+0001 нельзя записать в XML-список свойств"},
        {R"({"a\u0000":1})", "Символ U+0000 нельзя записать в XML-список свойств"},
        {"[\"\xEF\xBF\xBF\"]", "Символ U+FFFF нельзя записать в XML-список свойств"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure(c.json, "json", Format::plist), c.message) << c.json;
}

} // namespace
} // namespace lumatra
