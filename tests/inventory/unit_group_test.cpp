// The unit list, duplicate refusal, the shared category dictionary and the
// single-class selection rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "inventory/unit_group.h"

namespace talvor {
namespace {

unit_address at(std::uint8_t last, mac_address mac = unknown_mac)
{
    return make_unit_address(ipv4_mapped(192, 168, 7, last), mac);
}

TEST(UnitGroupDuplicates, ByAddressOrKnownMac)
{
    unit_group g;
    const mac_address mac_a{0, 1, 2, 3, 4, 5};
    ASSERT_NE(g.add_unit(at(1)), nullptr);
    // Same address again: refused, whatever the MAC.
    EXPECT_EQ(g.add_unit(at(1)), nullptr);
    EXPECT_EQ(g.add_unit(at(1, mac_a)), nullptr);
    // Two unknown MACs at different addresses are different units.
    ASSERT_NE(g.add_unit(at(2)), nullptr);
    // A known MAC at a new address: kept the first time, then refused.
    ASSERT_NE(g.add_unit(at(3, mac_a)), nullptr);
    EXPECT_EQ(g.add_unit(at(4, mac_a)), nullptr);
    EXPECT_EQ(g.units().size(), 3u);
}

TEST(UnitGroupDuplicates, LeavingOneUnitOutAfterRefresh)
{
    unit_group g;
    CHubDevice* first = g.add_unit(at(1));
    CHubDevice* second = g.add_unit(at(2));
    // The unit itself is not its own duplicate...
    EXPECT_FALSE(g.is_duplicate(second->identity(), second));
    EXPECT_TRUE(g.is_duplicate(second->identity()));
    // ...but once its refresh reports another unit's MAC, it is.
    first->mac = {0xa, 0xb, 0xc, 0xd, 0xe, 0xf};
    second->mac = first->mac;
    EXPECT_TRUE(g.is_duplicate(second->identity(), second));
    EXPECT_TRUE(g.is_duplicate(first->identity(), first));
}

TEST(UnitGroupCategories, SharedCaseInsensitiveFirstSpellingKept)
{
    unit_group g;
    EXPECT_EQ(g.category_id("Logs"), 0);
    EXPECT_EQ(g.category_id("Network"), 1);
    EXPECT_EQ(g.category_id("logs"), 0);
    EXPECT_EQ(g.category_id("LOGS"), 0);
    EXPECT_EQ(g.category_name(0), "Logs");
    EXPECT_EQ(g.category_name(2), "");
    EXPECT_EQ(g.category_count(), 2u);
}

TEST(UnitGroupCategories, ManyWorkersAgreeOnIndices)
{
    unit_group g;
    std::vector<std::vector<int>> seen(4);
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < 200; ++i)
                seen[w].push_back(g.category_id((w % 2 ? "CAT" : "cat") + std::to_string(i)));
        });
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(g.category_count(), 200u);
    for (int w = 1; w < 4; ++w)
        EXPECT_EQ(seen[w], seen[0]);
    EXPECT_EQ(std::set<int>(seen[0].begin(), seen[0].end()).size(), 200u);
}

// Records what the front end is asked to do.
struct recording_tree : tree_hook {
    int suspended = 0, resumed = 0;
    std::vector<tree_node> cleared;
    void suspend_redraw() override { ++suspended; }
    void resume_redraw() override { ++resumed; }
    void clear_check(tree_node n) override { cleared.push_back(n); }
};

struct SelectionFixture : ::testing::Test {
    unit_group g;
    recording_tree tree;
    CHubDevice* talvor1 = nullptr;
    CHubDevice* talvor2 = nullptr;
    CTapDevice* multiport = nullptr;
    CTapDevice* unknown_tap = nullptr;

    void SetUp() override
    {
        g.tree = &tree;
        talvor1 = g.add_unit(at(1));
        talvor2 = g.add_unit(at(2));
        for (auto* u : {talvor1, talvor2}) {
            u->product_class = class_talvor_system;
            u->capabilities = cap_config;
        }
        talvor1->tree_item = 10;
        talvor2->tree_item = 20;
        talvor2->capabilities |= cap_sdcard;
        auto tap = std::make_unique<CTapDevice>(0);
        tap->product_class = class_multi_port_tap;
        tap->tree_item = 11;
        multiport = tap.get();
        talvor1->taps.push_back(std::move(tap));
        auto other = std::make_unique<CTapDevice>(1);
        other->tree_item = 12; // unclassified
        unknown_tap = other.get();
        talvor1->taps.push_back(std::move(other));
        // A TAP not shown in the tree must never match a lookup by node.
        talvor2->taps.push_back(std::make_unique<CTapDevice>(0));
    }
};

TEST_F(SelectionFixture, CheckingAnotherClassUnchecksTheFirst)
{
    g.set_checked(10, true);
    g.set_checked(20, true);
    EXPECT_EQ(g.selected_class, class_talvor_system);
    EXPECT_EQ(g.count_selected(), 2);
    auto caps = g.selection_capabilities();
    EXPECT_EQ(caps.any, cap_config | cap_sdcard);
    EXPECT_EQ(caps.all, cap_config);

    tree.cleared.clear();
    g.set_checked(11, true);
    EXPECT_EQ(g.selected_class, class_multi_port_tap);
    EXPECT_EQ(talvor1->selected, 0);
    EXPECT_EQ(talvor2->selected, 0);
    EXPECT_EQ(multiport->selected, 1);
    EXPECT_EQ(g.count_selected(), 1);
    EXPECT_NE(std::find(tree.cleared.begin(), tree.cleared.end(), 10), tree.cleared.end());
    EXPECT_NE(std::find(tree.cleared.begin(), tree.cleared.end(), 20), tree.cleared.end());
    EXPECT_EQ(std::find(tree.cleared.begin(), tree.cleared.end(), 11), tree.cleared.end());
    // Capabilities are offered for hub classes only.
    EXPECT_EQ(g.selection_capabilities().any, 0u);

    int with_taps = 0;
    g.for_each_with_selected_taps([&](CHubDevice& u) { EXPECT_EQ(&u, talvor1); ++with_taps; });
    EXPECT_EQ(with_taps, 1);

    g.set_checked(11, false);
    EXPECT_EQ(g.selected_class, class_unknown);
    EXPECT_EQ(g.count_selected(), 0);
    EXPECT_EQ(tree.suspended, tree.resumed);
}

TEST_F(SelectionFixture, ConsistencyOfCheckBoxesWithTheModel)
{
    g.set_checked(10, true);
    EXPECT_TRUE(g.node_agrees(10, true));
    EXPECT_FALSE(g.node_agrees(10, false));
    EXPECT_TRUE(g.node_agrees(11, false));
    EXPECT_FALSE(g.node_agrees(11, true));
    EXPECT_FALSE(g.node_agrees(12, true)); // refused, so a set box disagrees
    EXPECT_TRUE(g.node_agrees(500, false)); // a grouping node
    EXPECT_FALSE(g.node_agrees(500, true));
    // Selected, but of another class than the selection: disagrees.
    talvor2->selected = 1;
    talvor2->product_class = class_orvane_system;
    EXPECT_FALSE(g.node_agrees(20, true));
}

TEST_F(SelectionFixture, UncheckingOneOfTwoKeepsTheClass)
{
    g.set_checked(10, true);
    g.set_checked(20, true);
    g.set_checked(10, false);
    EXPECT_EQ(g.selected_class, class_talvor_system);
    int n = 0;
    g.for_each_selected([&](CHubDevice& u) { EXPECT_EQ(&u, talvor2); ++n; });
    EXPECT_EQ(n, 1);
    n = 0;
    g.for_each_selected_with(cap_sdcard, [&](CHubDevice&) { ++n; });
    EXPECT_EQ(n, 1);
    n = 0;
    g.for_each_selected_with(cap_certificates, [&](CHubDevice&) { ++n; });
    EXPECT_EQ(n, 0);
}

TEST_F(SelectionFixture, UnclassifiedItemIsRefusedAndItsBoxCleared)
{
    g.set_checked(10, true);
    tree.cleared.clear();
    g.set_checked(12, true);
    EXPECT_EQ(unknown_tap->selected, 0);
    EXPECT_EQ(talvor1->selected, 1); // the selection stands
    EXPECT_EQ(g.selected_class, class_talvor_system);
    ASSERT_EQ(tree.cleared.size(), 1u);
    EXPECT_EQ(tree.cleared[0], 12u);
}

TEST_F(SelectionFixture, UnknownOrNullNodeChangesNothing)
{
    g.set_checked(no_tree_node, true);
    g.set_checked(99, true);
    EXPECT_EQ(g.selected_class, class_unknown);
    EXPECT_EQ(talvor2->taps[0]->selected, 0);
    EXPECT_EQ(g.find_item(no_tree_node).unit, nullptr);
    EXPECT_EQ(g.find_item(11).tap, multiport);
    EXPECT_EQ(g.find_item(11).unit, talvor1);
}

// While the front end clears boxes it may report the change back; the guard
// keeps that from re-entering the rule.
TEST_F(SelectionFixture, ReentryFromTheFrontEndIsIgnored)
{
    struct echoing_tree : tree_hook {
        unit_group* g = nullptr;
        void clear_check(tree_node n) override { g->set_checked(n, false); }
    } echo;
    echo.g = &g;
    g.tree = &echo;
    g.set_checked(10, true);
    g.set_checked(11, true);
    EXPECT_EQ(g.selected_class, class_multi_port_tap);
    EXPECT_EQ(multiport->selected, 1);
}

TEST_F(SelectionFixture, RemovingTheLastSelectedUnitResetsTheClass)
{
    g.set_checked(20, true);
    g.remove_unit(talvor2);
    EXPECT_EQ(g.units().size(), 1u);
    EXPECT_EQ(g.selected_class, class_unknown);
    EXPECT_FALSE(g.is_duplicate(at(2)));
}

} // namespace
} // namespace talvor
