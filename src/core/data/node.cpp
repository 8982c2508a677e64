#include "data/node.h"

namespace lumatra {

namespace {

bool hasChildren(const Node& node) {
    switch (node.type()) {
    case Node::Type::array:
        return !node.items().empty();
    case Node::Type::object:
        return !node.members().empty();
    case Node::Type::boolean:
    case Node::Type::number:
    case Node::Type::string:
    case Node::Type::null:
        return false;
    }
    return false;
}

bool hasGrandchildren(const Node& node) {
    if (node.isArray()) {
        for (const Node& item : node.items())
            if (hasChildren(item)) return true;
    } else if (node.isObject()) {
        for (const Node::Member& member : node.members())
            if (hasChildren(member.second)) return true;
    }
    return false;
}

// Moves the children of `node` that have grandchildren onto `pending`. What stays is at
// most two levels deep, which the destructors of the containers take down directly.
void detachNested(Node& node, std::vector<Node>& pending) {
    if (node.isArray()) {
        for (Node& item : node.items())
            if (hasGrandchildren(item)) pending.push_back(std::move(item));
    } else if (node.isObject()) {
        for (Node::Member& member : node.members())
            if (hasGrandchildren(member.second)) pending.push_back(std::move(member.second));
    }
}

} // namespace

Node Node::boolean(bool value) {
    Node node;
    node.m_value = value;
    return node;
}

Node Node::number(std::string text) {
    Node node;
    node.m_value = Number{std::move(text)};
    return node;
}

Node Node::string(std::string text) {
    Node node;
    node.m_value = std::move(text);
    return node;
}

Node Node::array(Array items) {
    Node node;
    node.m_value = std::move(items);
    return node;
}

Node Node::object(Object members) {
    Node node;
    node.m_value = std::move(members);
    return node;
}

Node::Node(const Node& other) {
    if (!hasChildren(other)) {
        m_value = other.m_value;
        return;
    }
    // Copy level by level: each container is sized first, so the addresses of its
    // (still null) children stay valid while they wait on the work list.
    std::vector<std::pair<const Node*, Node*>> work{{&other, this}};
    while (!work.empty()) {
        auto [from, to] = work.back();
        work.pop_back();
        switch (from->type()) {
        case Type::array: {
            const Array& source = from->items();
            to->m_value = Array(source.size());
            Array& target = to->items();
            for (std::size_t i = 0; i < source.size(); ++i) {
                if (hasChildren(source[i]))
                    work.emplace_back(&source[i], &target[i]);
                else
                    target[i].m_value = source[i].m_value;
            }
            break;
        }
        case Type::object: {
            const Object& source = from->members();
            to->m_value = Object(source.size());
            Object& target = to->members();
            for (std::size_t i = 0; i < source.size(); ++i) {
                target[i].first = source[i].first;
                if (hasChildren(source[i].second))
                    work.emplace_back(&source[i].second, &target[i].second);
                else
                    target[i].second.m_value = source[i].second.m_value;
            }
            break;
        }
        case Type::boolean:
        case Type::number:
        case Type::string:
        case Type::null:
            to->m_value = from->m_value;
            break;
        }
    }
}

Node& Node::operator=(const Node& other) {
    if (this == &other) return *this;
    Node copy(other);
    std::swap(m_value, copy.m_value);
    return *this;
}

Node& Node::moveIntoContainer(Node&& other) noexcept {
    if (this == &other) return *this;
    // `other` may live inside this tree: take it out before the old value goes.
    Node taken(std::move(other));
    std::swap(m_value, taken.m_value);
    return *this;
}

void Node::releaseChildren() noexcept {
    // Shallow trees, nearly all of them, are taken down by plain recursion; below a
    // fixed depth the rest goes through the work list.
    constexpr int recursionLimit = 64;
    thread_local int depth = 0;
    if (depth < recursionLimit) {
        ++depth;
        if (isArray())
            items().clear();
        else
            members().clear();
        --depth;
        return;
    }
    if (!hasGrandchildren(*this)) return;
    std::vector<Node> pending;
    detachNested(*this, pending);
    while (!pending.empty()) {
        Node node = std::move(pending.back());
        pending.pop_back();
        detachNested(node, pending);
    }
}

const std::string& Node::text() const {
    if (const auto* number = std::get_if<Number>(&m_value)) return number->text;
    return std::get<std::string>(m_value);
}

const Node* Node::find(std::string_view key) const {
    if (!isObject()) return nullptr;
    for (const Member& member : members())
        if (member.first == key) return &member.second;
    return nullptr;
}

bool operator==(const Node& a, const Node& b) {
    std::vector<std::pair<const Node*, const Node*>> work{{&a, &b}};
    while (!work.empty()) {
        auto [left, right] = work.back();
        work.pop_back();
        if (left->type() != right->type()) return false;
        switch (left->type()) {
        case Node::Type::boolean:
            if (left->boolValue() != right->boolValue()) return false;
            break;
        case Node::Type::number:
        case Node::Type::string:
            if (left->text() != right->text()) return false;
            break;
        case Node::Type::array: {
            const Node::Array& l = left->items();
            const Node::Array& r = right->items();
            if (l.size() != r.size()) return false;
            for (std::size_t i = 0; i < l.size(); ++i)
                work.emplace_back(&l[i], &r[i]);
            break;
        }
        case Node::Type::object: {
            const Node::Object& l = left->members();
            const Node::Object& r = right->members();
            if (l.size() != r.size()) return false;
            for (std::size_t i = 0; i < l.size(); ++i) {
                if (l[i].first != r[i].first) return false;
                work.emplace_back(&l[i].second, &r[i].second);
            }
            break;
        }
        case Node::Type::null:
            break;
        }
    }
    return true;
}

} // namespace lumatra
