// talvorctl's --class selects what the window's Select Class checks: for
// every class of the demo fleet, named as the tree shows it.
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <set>
#include <sstream>

#include "cli/batch_run.h"
#include "inventory/unit_group.h"
#include "simulator/hubsim.h"
#include "tests/connect/scripted_dialogs.h"
#include "ui/main_dialog.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_store_qt.h"

using namespace talvor;

class SelectClassTest : public QObject {
    Q_OBJECT
private slots:
    void class_option_selects_what_select_class_checks();
};

namespace {

using selection = std::set<std::pair<const CHubDevice*, const CTapDevice*>>;

selection selected(const unit_group& group)
{
    selection out;
    for (const auto& u : group.units()) {
        if (u->selected)
            out.insert({u.get(), nullptr});
        for (const auto& t : u->taps)
            if (t->selected)
                out.insert({u.get(), t.get()});
    }
    return out;
}

} // namespace

void SelectClassTest::class_option_selects_what_select_class_checks()
{
    QTemporaryDir dir;
    std::ifstream in(TALVOR_SOURCE_DIR "/demo/fleet.json");
    std::stringstream text;
    text << in.rdbuf();
    std::string fleet_json = text.str();
    for (std::size_t at; (at = fleet_json.find("127.77.0.")) != std::string::npos;)
        fleet_json.replace(at, 9, "127.78.0.");
    sim::fleet_server fleet(fleet_json, dir.filePath(QStringLiteral("sim")).toStdString());

    qt_window_bridge bridge;
    test::scripted_dialogs ui;
    ui.passwords.assign(16, "talvor-demo");
    AppSettings settings;
    settings.tls_checks = 0;
    qt_settings_store store(dir.filePath(QStringLiteral("settings.ini")).toStdString());
    CMainDialog w(bridge, ui, settings, store);
    w.show();
    for (int n = 1; n <= 9; ++n)
        QCOMPARE(w.manager().add_device("127.78.0." + std::to_string(n)), add_result::added);
    QTRY_VERIFY_WITH_TIMEOUT(w.manager().idle(), 60000);
    unit_group& group = w.manager().group();
    QCOMPARE(group.units().size(), std::size_t{9});

    auto clear = [&] {
        for (const auto& u : group.units()) {
            w.item_of(*u)->setCheckState(0, Qt::Unchecked);
            for (const auto& t : u->taps)
                w.item_of(*t)->setCheckState(0, Qt::Unchecked);
        }
    };
    // Every kind the tree shows: a unit's hub class or a TAP class node.
    std::set<std::string> kinds_tried;
    for (const auto& u : group.units()) {
        std::vector<std::pair<std::string, QTreeWidgetItem*>> kinds = {
            {std::string(product_class_name(u->product_class)), w.item_of(*u)}};
        for (const auto& t : u->taps)
            kinds.emplace_back(std::string(tap_class_name(t->tap_class)), w.item_of(*t));
        for (const auto& [kind, item] : kinds) {
            if (!kinds_tried.insert(kind).second)
                continue;
            clear();
            item->setCheckState(0, Qt::Checked);
            w.run_command(cmd_select_class);
            const selection by_window = selected(group);
            clear();
            std::string error;
            QVERIFY2(cli::select_class(group, cli::class_by_name(kind), error) > 0, error.c_str());
            QVERIFY2(selected(group) == by_window, kind.c_str());
        }
    }
    // The demo fleet shows both hub classes and several TAP kinds of one class.
    QVERIFY(kinds_tried.count("Senta Module") && kinds_tried.count("Talvor System") && kinds_tried.size() >= 6);
    clear();
}

QTEST_MAIN(SelectClassTest)
#include "select_class_test.moc"
