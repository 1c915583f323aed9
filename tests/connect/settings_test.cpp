// The two persisted settings: load rules, the settings dialog's OK rule,
// and the QSettings store shared by the front ends.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QString>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "inventory/app_settings.h"
#include "ui/settings_store_qt.h"

namespace talvor::test {
namespace {

settings_values load_from(std::optional<int> discover, std::optional<int> tls)
{
    memory_settings_store store;
    if (discover)
        store.write_int("Settings", "Discover", *discover);
    if (tls)
        store.write_int("Settings", "TLSChecks", *tls);
    return load_settings(store);
}

TEST(settings_test, load_rules)
{
    EXPECT_EQ(load_from({}, {}).discover_flags, 0);
    EXPECT_EQ(load_from({}, {}).tls_checks, 1);
    EXPECT_EQ(load_from(7, 0).discover_flags, 3);
    EXPECT_EQ(load_from(2, 0).discover_flags, 2);
    EXPECT_EQ(load_from(-1, 0).discover_flags, 3);
    EXPECT_EQ(load_from(0, 0).tls_checks, 0);
    EXPECT_EQ(load_from(0, 2).tls_checks, 2);
    EXPECT_EQ(load_from(0, 5).tls_checks, 1);
    EXPECT_EQ(load_from(0, -1).tls_checks, 1);
    EXPECT_EQ(load_from(0, 3).tls_checks, 1);
}

TEST(settings_test, dialog_opens_from_the_values_and_ok_writes_exactly_its_two)
{
    // "Discover" 2: the dialog shows Enable clear and OK stores 0.
    settings_dialog_state s = open_settings_dialog({2, 5});
    EXPECT_FALSE(s.enable);
    EXPECT_EQ(s.level, 1);
    memory_settings_store store;
    save_settings(store, accept_settings_dialog(s));
    EXPECT_EQ(store.read_int("Settings", "Discover"), 0);
    EXPECT_EQ(store.read_int("Settings", "TLSChecks"), 1);

    s = open_settings_dialog({3, 2});
    EXPECT_TRUE(s.enable);
    EXPECT_EQ(s.level, 2);
    s.level = 0;
    const settings_values v = accept_settings_dialog(s);
    EXPECT_EQ(v.discover_flags, 1) << "bit 1 is not carried over";
    EXPECT_EQ(v.tls_checks, 0);
    EXPECT_STREQ(tls_level_texts(2).tooltip,
                 "TLS certificates must be valid and trusted, and must match the unit's address");
    EXPECT_STREQ(tls_level_texts(7).radio, "Standard");
}

class qt_store_test : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() / ("talvor-settings-" + std::to_string(::getpid()) + "-"
                                                        + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(qt_store_test, damaged_values_count_as_absent_so_checks_never_turn_off)
{
    const auto ini = (dir / "t.ini").string();
    {
        std::ofstream f(ini);
        f << "[Settings]\nDiscover=1\nTLSChecks=abc\n";
    }
    qt_settings_store store(ini);
    EXPECT_EQ(store.read_int("Settings", "TLSChecks"), std::nullopt);
    EXPECT_EQ(load_settings(store).tls_checks, 1);
    EXPECT_EQ(load_settings(store).discover_flags, 1);
    {
        std::ofstream f(ini);
        f << "[Settings]\nDiscover=1.5\nTLSChecks=99999999999\n";
    }
    qt_settings_store again(ini);
    EXPECT_EQ(again.read_int("Settings", "Discover"), std::nullopt);
    EXPECT_EQ(again.read_int("Settings", "TLSChecks"), std::nullopt);
    EXPECT_EQ(load_settings(again).tls_checks, 1);
}

TEST_F(qt_store_test, values_round_trip_under_the_user_store_location)
{
    // The user's own store, pointed at the temporary folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.string()));
    {
        qt_settings_store store;
        save_settings(store, {1, 2});
        store.sync();
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "Quillon" / "Talvor Manager.conf"));
    qt_settings_store store;
    const settings_values v = load_settings(store);
    EXPECT_EQ(v.discover_flags, 1);
    EXPECT_EQ(v.tls_checks, 2);
}

} // namespace
} // namespace talvor::test
