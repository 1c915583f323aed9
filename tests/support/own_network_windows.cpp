#include "tests/support/own_network.h"

namespace talvor::test {

// Windows has no network namespaces; under Wine, scripts/windows.sh runs
// the whole suite in one of its own instead.
std::string enter_own_network() { return ""; }

} // namespace talvor::test
