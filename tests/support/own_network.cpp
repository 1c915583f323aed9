// Linked into every test program, fuzz target and benchmark. Runs before
// main, and so before any thread starts.
#include <cstdio>

#include "tests/support/own_network.h"

namespace {

[[maybe_unused]] const bool own_network = [] {
    const std::string why = talvor::test::enter_own_network();
    if (!why.empty())
        std::fprintf(stderr, "%s\n", why.c_str());
    return why.empty();
}();

} // namespace
