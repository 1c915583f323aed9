#pragma once
// Tree nodes are opaque to the core: the front end maps them to its own
// items, tests use plain numbers. 0 means "no node".
#include <cstdint>

namespace talvor {

using tree_node = std::uintptr_t;
inline constexpr tree_node no_tree_node = 0;

// What the core asks of the tree while it changes check states. Every hook
// has a do-nothing default so a front end implements only what it shows.
class tree_hook {
public:
    virtual ~tree_hook() = default;
    virtual void suspend_redraw() {}
    virtual void resume_redraw() {}
    // The model cleared this node's selection; its check box must follow.
    virtual void clear_check(tree_node) {}
};

} // namespace talvor
