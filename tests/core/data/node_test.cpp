#include "data/node.h"

#include "data/json.h"

#include <gtest/gtest.h>

namespace lumatra {
namespace {

// A chain of `depth` arrays, each holding the next, with a number at the bottom.
Node nestedArrays(int depth) {
    Node node = Node::number("1");
    for (int i = 0; i < depth; ++i) {
        Node::Array items;
        items.push_back(std::move(node));
        node = Node::array(std::move(items));
    }
    return node;
}

TEST(Node, EqualityComparesCaseTextAndOrder) {
    const Node ab = Node::object({{"a", Node::number("1")}, {"b", Node::string("x")}});
    const Node ba = Node::object({{"b", Node::string("x")}, {"a", Node::number("1")}});
    struct Case {
        Node left, right;
        bool equal;
    } cases[] = {
        {Node::boolean(true), Node::boolean(false), false},
        {Node::number("1.0"), Node::number("1"), false}, // texts, not values
        {Node::number("1"), Node::string("1"), false},
        {Node::array(), Node::object(), false},
        {ab, ab, true},
        {ab, ba, false}, // member order counts
        {Node::array({Node::number("1")}), Node::array({Node::number("1"), Node()}), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.left == c.right, c.equal);
}

TEST(Node, CopiesAreIndependentAndFindTakesFirstKey) {
    Node original = Node::object({{"k", Node::number("1")},
                                  {"k", Node::number("2")},
                                  {"list", Node::array({Node::string("a")})}});
    Node copy = original;
    copy.members()[2].second.items().push_back(Node::null());
    EXPECT_EQ(original.members()[2].second.items().size(), 1u);
    EXPECT_EQ(original.find("k")->text(), "1");
    EXPECT_EQ(original.find("missing"), nullptr);
    EXPECT_EQ(Node::array().find("k"), nullptr);

    // Assigning a node its own descendant.
    original = std::move(original.members()[2].second);
    EXPECT_EQ(original, Node::array({Node::string("a")}));
    Node self = copy;
    self = self;
    EXPECT_EQ(self, copy);
}

TEST(Node, DeepTreesCopyCompareWriteAndDieWithoutRecursion) {
    const int depth = 300'000; // far beyond what recursion on an 8 MB stack survives
    Node deep = nestedArrays(depth);
    Node copy = deep;
    EXPECT_TRUE(copy == deep);
    EXPECT_EQ(JSON::write(deep, 0, false), std::string(depth, '[') + "1" + std::string(depth, ']'));
    copy = nestedArrays(depth - 1);
    EXPECT_FALSE(copy == deep);
    Node objects;
    for (int i = 0; i < depth; ++i) {
        Node::Object members;
        members.emplace_back("k", std::move(objects));
        objects = Node::object(std::move(members));
    }
}

} // namespace
} // namespace lumatra
