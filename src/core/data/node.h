#pragma once
// The neutral data tree that every data reader produces and every writer consumes.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace lumatra {

/// One value of a data file. Numbers keep the text they were read with; objects are
/// ordered lists of members, so key order and duplicate keys survive. Copies are
/// independent. Destroying a tree of any depth never exhausts the stack.
class Node {
public:
    enum class Type { boolean, number, string, array, object, null };
    using Array = std::vector<Node>;
    using Member = std::pair<std::string, Node>;
    using Object = std::vector<Member>;

    Node() noexcept {} // null
    static Node boolean(bool value);
    static Node number(std::string text);
    static Node string(std::string text);
    static Node array(Array items = {});
    static Node object(Object members = {});
    static Node null() { return {}; }

    Node(const Node& other);
    Node(Node&& other) noexcept = default;
    Node& operator=(const Node& other);
    Node& operator=(Node&& other) noexcept {
        if (isContainer()) return moveIntoContainer(std::move(other));
        m_value = std::move(other.m_value);
        return *this;
    }
    ~Node() {
        if (isContainer()) releaseChildren();
    }

    Type type() const { return static_cast<Type>(m_value.index()); }
    bool isObject() const { return type() == Type::object; }
    bool isArray() const { return type() == Type::array; }
    bool isString() const { return type() == Type::string; }

    /// The value of a boolean node.
    bool boolValue() const { return std::get<bool>(m_value); }
    /// The text of a number or string node.
    const std::string& text() const;
    const Array& items() const { return std::get<Array>(m_value); }
    Array& items() { return std::get<Array>(m_value); }
    const Object& members() const { return std::get<Object>(m_value); }
    Object& members() { return std::get<Object>(m_value); }

    /// The first member named `key` of an object node; null for other nodes or when absent.
    const Node* find(std::string_view key) const;

    friend bool operator==(const Node& a, const Node& b);

private:
    bool isContainer() const {
        const std::size_t index = m_value.index();
        return index == 3 || index == 4;
    }
    Node& moveIntoContainer(Node&& other) noexcept;
    // Takes down nested children without recursion.
    void releaseChildren() noexcept;

    struct Number {
        std::string text;
    };
    // Alternative order follows `Type`.
    std::variant<bool, Number, std::string, Array, Object, std::monostate> m_value{
        std::monostate{}};
};

/// Receives the elements of a document's top-level array one by one, as each is read.
using ItemHandler = std::function<void(Node&& item)>;

} // namespace lumatra
