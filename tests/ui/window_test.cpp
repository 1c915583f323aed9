// The main window against simulated units on loopback: what a person sees
// in the tree, the status bar, the details list and the buttons.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

#include "inventory/refresh_job.h"
#include "inventory/unit_group.h"
#include "operations/inventory_export.h"
#include "simulator/hubsim.h"
#include "tests/connect/scripted_dialogs.h"
#include "ui/custom_list_ctrl.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/main_dialog.h"
#include "ui/not_added_notice.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_store_qt.h"
#include "ui/val_edit.h"

using namespace talvor;

namespace {

std::string unit_json(const std::string& name, int n, const std::string& firmware, const std::string& taps)
{
    return R"({"name":")" + name + R"(","kind":"http","address":"127.79.0.)" + std::to_string(n)
        + R"(","password":"pw","gen_conf":{"system":"622","ser":")" + name + R"(","mac0":"00:1a:79:00:00:0)"
        + std::to_string(n) + R"(","fw_v_net":")" + firmware + R"(","capabilities":415},"taps":[)" + taps + "]}";
}

std::string tap_json(int address, const std::string& serial)
{
    return R"({"bus":0,"address":)" + std::to_string(address) + R"(,"type":3,"ccts":8,"sernr":")" + serial
        + R"(","fstcct":0,"caps":5,"fwver":291,"fpgats":0})";
}

QString status_text(CMainDialog& w, int part)
{
    return w.status_part(part)->text();
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void checking_keeps_one_class_and_the_status_bar_follows();
    void differing_values_read_various_in_italics();
    void show_more_and_less_step_one_level();
    void button_states_after_add_and_with_taps_selected();
    void reload_all_fills_the_tree_again();
    void add_with_a_bad_address_reports_it();
    void close_is_refused_while_a_refresh_runs();
    void addresses_not_added_are_listed_with_the_reason();
    void disabled_buttons_say_why();
    void export_inventory_writes_the_cores_document();
    void enter_presses_the_focused_button_else_add();
    void the_filter_hides_what_does_not_match_and_units_sort_by_serial();

private:
    // Adds the units (last byte of 127.79.0.x) and waits until all are shown.
    void load(std::initializer_list<int> units);
    CHubDevice& unit(int n);

    QTemporaryDir dir_;
    std::unique_ptr<sim::fleet_server> fleet_;
    std::unique_ptr<qt_window_bridge> bridge_;
    std::unique_ptr<test::scripted_dialogs> ui_;
    std::unique_ptr<AppSettings> settings_;
    std::unique_ptr<qt_settings_store> store_;
    std::unique_ptr<CMainDialog> window_;
};

void WindowTest::initTestCase()
{
    // 1 and 2 differ in firmware; 3 has no TAPs.
    const std::string units = unit_json("north", 1, "v0.64.2", tap_json(1, "N-1") + "," + tap_json(2, "N-2")) + ","
        + unit_json("south", 2, "v0.65.0", tap_json(1, "S-1")) + "," + unit_json("bare", 3, "v0.64.2", "");
    fleet_ = std::make_unique<sim::fleet_server>(R"({"discovery":"off","units":[)" + units + "]}",
                                                 dir_.filePath(QStringLiteral("sim")).toStdString());
}

void WindowTest::cleanupTestCase()
{
    fleet_.reset();
}

void WindowTest::init()
{
    bridge_ = std::make_unique<qt_window_bridge>();
    ui_ = std::make_unique<test::scripted_dialogs>();
    for (int i = 0; i < 8; ++i)
        ui_->passwords.push_back("pw");
    settings_ = std::make_unique<AppSettings>();
    settings_->tls_checks = 0; // plain HTTP without a security question
    store_ = std::make_unique<qt_settings_store>(dir_.filePath(QStringLiteral("settings.ini")).toStdString());
    window_ = std::make_unique<CMainDialog>(*bridge_, *ui_, *settings_, *store_);
    window_->show();
}

void WindowTest::cleanup()
{
    window_.reset();
    store_.reset();
    bridge_.reset();
}

void WindowTest::load(std::initializer_list<int> units)
{
    for (int n : units)
        QCOMPARE(window_->manager().add_device("127.79.0." + std::to_string(n)), add_result::added);
    QTRY_VERIFY_WITH_TIMEOUT(window_->manager().idle(), 30000);
    QCOMPARE(window_->manager().group().units().size(), units.size());
}

CHubDevice& WindowTest::unit(int n)
{
    for (const auto& u : window_->manager().group().units())
        if (u->address_string() == "127.79.0." + std::to_string(n))
            return *u;
    qFatal("unit %d not listed", n);
}

void WindowTest::checking_keeps_one_class_and_the_status_bar_follows()
{
    load({1, 2});
    CMainDialog& w = *window_;
    w.item_of(unit(1))->setCheckState(0, Qt::Checked);
    w.item_of(unit(2))->setCheckState(0, Qt::Checked);
    QCOMPARE(status_text(w, 1), QStringLiteral("Selected: 2"));
    QCOMPARE(status_text(w, 2), QStringLiteral("Class: \"Talvor System\""));

    CTapDevice& tap = *unit(1).taps.front();
    w.item_of(tap)->setCheckState(0, Qt::Checked);
    QCOMPARE(w.item_of(unit(1))->checkState(0), Qt::Unchecked);
    QCOMPARE(w.item_of(unit(2))->checkState(0), Qt::Unchecked);
    QCOMPARE(status_text(w, 1), QStringLiteral("Selected: 1"));
    QCOMPARE(status_text(w, 2),
             QStringLiteral("Class: \"%1\"").arg(QString::fromUtf8(product_class_name(tap.product_class).data())));
    QVERIFY(w.tree_consistent());

    w.item_of(tap)->setCheckState(0, Qt::Unchecked);
    QCOMPARE(status_text(w, 1), QString());
    QCOMPARE(status_text(w, 2), QString());
    QVERIFY(!w.command_button(cmd_select_class)->isEnabled());

    // Select Class checks the rest of the class, and the status bar follows it too.
    w.item_of(unit(1))->setCheckState(0, Qt::Checked);
    w.run_command(cmd_select_class);
    QCOMPARE(w.item_of(unit(2))->checkState(0), Qt::Checked);
    QCOMPARE(status_text(w, 1), QStringLiteral("Selected: 2"));
    QVERIFY(w.tree_consistent());
}

void WindowTest::differing_values_read_various_in_italics()
{
    load({1, 2});
    window_->item_of(unit(1))->setCheckState(0, Qt::Checked);
    window_->item_of(unit(2))->setCheckState(0, Qt::Checked);
    CCustomListCtrl* list = window_->details();
    const auto firmware = list->findItems(QStringLiteral("Firmware Version"), Qt::MatchExactly, 0);
    QCOMPARE(firmware.size(), 1);
    QCOMPARE(firmware[0]->text(1), QStringLiteral("various"));
    QVERIFY(CCustomListCtrl::various(firmware[0]));
    QVERIFY(firmware[0]->font(1).italic());
    const auto product = list->findItems(QStringLiteral("Product"), Qt::MatchExactly, 0);
    QCOMPARE(product[0]->text(1), QStringLiteral("Talvor"));
    QVERIFY(!product[0]->font(1).italic());
}

void WindowTest::show_more_and_less_step_one_level()
{
    load({1, 3}); // unit 3 has no TAPs: its node can never expand
    CMainDialog& w = *window_;
    QTreeWidgetItem* type = w.tree()->topLevelItem(0);
    QTreeWidgetItem* north = w.item_of(unit(1));
    QTreeWidgetItem* tap_class = north->child(0);
    auto expanded = [&] { return QList<bool>{type->isExpanded(), north->isExpanded(), tap_class->isExpanded()}; };

    w.show_more();
    QCOMPARE(expanded(), (QList<bool>{true, false, false}));
    w.show_more();
    QCOMPARE(expanded(), (QList<bool>{true, true, false}));
    w.show_more();
    QCOMPARE(expanded(), (QList<bool>{true, true, true}));
    w.show_more(); // nothing deeper
    QCOMPARE(expanded(), (QList<bool>{true, true, true}));
    w.show_less();
    QCOMPARE(expanded(), (QList<bool>{true, true, false}));
    w.show_less();
    w.show_less();
    QCOMPARE(expanded(), (QList<bool>{false, false, false}));
}

void WindowTest::button_states_after_add_and_with_taps_selected()
{
    CMainDialog& w = *window_;
    QVERIFY(!w.command_button(cmd_reload_all)->isEnabled());
    load({1});
    for (int id : {cmd_reload_all, cmd_show_more, cmd_show_less, cmd_add_multiple})
        QVERIFY2(w.command_button(id)->isEnabled(), QByteArray::number(id));
    QVERIFY(!w.command_button(cmd_add)->isEnabled());
    QVERIFY(!w.command_button(cmd_discover)->isEnabled()); // discovery off in the settings

    w.item_of(*unit(1).taps.front())->setCheckState(0, Qt::Checked);
    for (int id : {cmd_select_class, cmd_restart_selected, cmd_update_firmware})
        QVERIFY2(w.command_button(id)->isEnabled(), QByteArray::number(id));
    for (int id : {cmd_download_configuration, cmd_upload_configuration, cmd_erase_sd_card, cmd_upload_customization,
                   cmd_upload_certificate})
        QVERIFY2(!w.command_button(id)->isEnabled(), QByteArray::number(id));

    w.item_of(unit(1))->setCheckState(0, Qt::Checked); // capabilities 415: configuration, SD card, customization
    for (int id : {cmd_download_configuration, cmd_upload_configuration, cmd_erase_sd_card, cmd_upload_customization})
        QVERIFY2(w.command_button(id)->isEnabled(), QByteArray::number(id));
    QVERIFY(!w.command_button(cmd_upload_certificate)->isEnabled());
}

void WindowTest::reload_all_fills_the_tree_again()
{
    load({1, 2});
    CMainDialog& w = *window_;
    w.item_of(unit(1))->setCheckState(0, Qt::Checked);
    w.reload_all();
    QCOMPARE(w.tree()->topLevelItemCount(), 0);
    QCOMPARE(status_text(w, 1), QString());
    QTRY_VERIFY_WITH_TIMEOUT(w.manager().idle(), 30000);
    QCOMPARE(w.tree()->topLevelItem(0)->childCount(), 2);
    QVERIFY(w.item_of(unit(1)) && w.item_of(*unit(1).taps.front()));
    QCOMPARE(w.item_of(unit(1))->checkState(0), Qt::Unchecked);
    QVERIFY(w.command_button(cmd_reload_all)->isEnabled());
    QVERIFY(w.tree_consistent());
}

void WindowTest::add_with_a_bad_address_reports_it()
{
    CMainDialog& w = *window_;
    QTest::keyClicks(w.address_edit(), QStringLiteral("1.2.3"));
    QVERIFY(w.command_button(cmd_add)->isEnabled());
    QTest::mouseClick(w.command_button(cmd_add), Qt::LeftButton);
    QCOMPARE(ui_->tasks.size(), std::size_t(1));
    QCOMPARE(ui_->tasks[0].title, std::string("Add Device"));
    QCOMPARE(ui_->tasks[0].main_instruction, std::string("IP address is invalid"));
    QVERIFY(w.manager().group().units().empty());
}

void WindowTest::close_is_refused_while_a_refresh_runs()
{
    CMainDialog& w = *window_;
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(w.isVisible());
    QCOMPARE(w.manager().add_device("127.79.0.2"), add_result::added);
    QVERIFY(!w.manager().busy().empty());
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(w.manager().idle(), 30000);
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
    QVERIFY(w.manager().shutting_down());
}

void WindowTest::addresses_not_added_are_listed_with_the_reason()
{
    load({1});
    CMainDialog& w = *window_;
    for (const char* typed : {"127.79.0.99", "127.79.0.1"}) { // .99 refuses connections; .1 is listed
        w.address_edit()->setText(QString::fromLatin1(typed));
        QTest::mouseClick(w.command_button(cmd_add), Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(w.manager().idle(), 30000);
    QCOMPARE(w.tree()->topLevelItem(0)->childCount(), 1);
    QVERIFY(ui_->tasks.empty()); // no dialog per unit

    CNotAddedNotice* notice = w.not_added_notice();
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), QStringLiteral("2 addresses not added \u2014 details"));
    QTest::mouseClick(notice, Qt::LeftButton);
    QVERIFY(notice->details()->isVisible());
    QStringList rows;
    for (int i = 0; i < notice->entries()->topLevelItemCount(); ++i)
        rows << notice->entries()->topLevelItem(i)->text(0) + ": " + notice->entries()->topLevelItem(i)->text(1);
    rows.sort();
    QCOMPARE(rows, (QStringList{"127.79.0.1: already listed", "127.79.0.99: connection failed"}));

    for (auto* b : notice->details()->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Clear"))
            QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(!notice->isVisible() && !notice->details()->isVisible());
}

void WindowTest::disabled_buttons_say_why()
{
    load({1});
    CMainDialog& w = *window_;
    CHubDevice& u = unit(1);
    auto check = [](QTreeWidgetItem* item) { item->setCheckState(0, Qt::Checked); };
    // The unit's job not reported yet, as dispatching it leaves it.
    auto at_work = [&](int kind, bool checked) {
        if (checked)
            check(w.item_of(u));
        w.manager().busy().insert(&u);
        u.job_kind.store(kind);
    };
    const struct {
        const char* state;
        std::function<void()> set_up;
        int id;
        const char* tip; // empty: enabled
    } cases[] = {
        {"discovery off", [] {}, cmd_discover, "Discovery is off; turn it on in Settings (\u2630 menu)"},
        {"discovery on", [&] { settings_->discover_flags = 1; }, cmd_discover, ""},
        {"no address typed", [] {}, cmd_add, "Type an IP address first"},
        {"nothing checked", [] {}, cmd_restart_selected, "Check units or TAPs in the tree first"},
        {"nothing checked", [] {}, cmd_erase_sd_card, "Check the units to work on in the tree first"},
        {"TAPs checked", [&] { check(w.item_of(*u.taps.front())); }, cmd_download_configuration,
         "Works on units only; TAPs are checked"},
        {"no checked unit offers it", [&] { check(w.item_of(u)); }, cmd_upload_certificate,
         "None of the checked units offers this"},
        {"unit checked", [&] { check(w.item_of(u)); }, cmd_erase_sd_card, ""},
        {"batch running", [&] { at_work(job_kind_restart, true); }, cmd_update_firmware, "A batch is running"},
        {"batch running", [&] { at_work(job_kind_restart, false); }, cmd_reload_all, "A batch is running"},
        {"units being read", [&] { at_work(job_kind_refresh, true); }, cmd_select_class,
         "Units are still being read"},
    };
    for (const auto& c : cases) {
        c.set_up();
        w.update_buttons();
        const QAbstractButton* b = w.command_button(c.id);
        const QString expected = QString::fromUtf8(c.tip);
        QVERIFY2(b->isEnabled() == expected.isEmpty() && b->toolTip() == expected,
                 qPrintable(QStringLiteral("%1: \"%2\"").arg(QString::fromLatin1(c.state), b->toolTip())));
        // Back to idle, nothing checked, discovery off.
        w.manager().busy().erase(&u);
        u.job_kind.store(job_kind_refresh);
        settings_->discover_flags = 0;
        w.item_of(u)->setCheckState(0, Qt::Unchecked);
        for (const auto& tap : u.taps)
            w.item_of(*tap)->setCheckState(0, Qt::Unchecked);
    }
}

void WindowTest::export_inventory_writes_the_cores_document()
{
    load({1, 2});
    QAction* item = nullptr;
    for (QToolButton* b : window_->findChildren<QToolButton*>())
        for (QAction* a : b->menu() ? b->menu()->actions() : QList<QAction*>())
            item = a->text() == QStringLiteral("Export Inventory ...") ? a : item;
    QVERIFY(item);
    std::vector<const CHubDevice*> units;
    for (const auto& u : window_->manager().group().units())
        units.push_back(u.get());
    const std::pair<QString, std::string> cases[] = {{QStringLiteral("inventory.csv"), inventory_csv(units)},
                                                     {QStringLiteral("inventory.JSON"), inventory_json(units)}};
    for (const auto& [name, document] : cases) {
        ui_->file_answer = dir_.filePath(name).toStdString();
        item->trigger();
        std::ostringstream written;
        written << std::ifstream(*ui_->file_answer, std::ios::binary).rdbuf();
        QCOMPARE(written.str(), document);
    }
    QVERIFY(ui_->tasks.empty());
    ui_->file_answer = dir_.filePath(QStringLiteral("missing/units.csv")).toStdString();
    item->trigger();
    QCOMPARE(ui_->tasks.size(), std::size_t(1));
    QVERIFY(ui_->tasks[0].main_instruction.find("\"units.csv\"") != std::string::npos);
}

void WindowTest::enter_presses_the_focused_button_else_add()
{
    load({1});
    CMainDialog& w = *window_;
    w.address_edit()->setText(QStringLiteral("1.2.3")); // "Add" reports it as invalid
    auto enter_on = [&](QWidget* focus) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
    };

    enter_on(w.command_button(cmd_show_more));
    QVERIFY(w.tree()->topLevelItem(0)->isExpanded());
    QVERIFY(ui_->tasks.empty());

    // The ☰ button opens its menu, which is closed again once seen.
    QMenu* menu = w.menu_button()->menu();
    bool opened = false;
    QTimer::singleShot(0, menu, [&] {
        opened = QApplication::activePopupWidget() == menu;
        menu->close();
    });
    enter_on(w.menu_button());
    QVERIFY(opened);
    QVERIFY(ui_->tasks.empty());

    enter_on(w.tree());
    QCOMPARE(ui_->tasks.size(), std::size_t(1));
    QCOMPARE(ui_->tasks[0].main_instruction, std::string("IP address is invalid"));
}

void WindowTest::the_filter_hides_what_does_not_match_and_units_sort_by_serial()
{
    load({2, 3, 1});
    CMainDialog& w = *window_;
    QTreeWidgetItem* type = w.tree()->topLevelItem(0);
    auto shown = [&] {
        QStringList out;
        for (int i = 0; i < type->childCount(); ++i)
            if (!type->child(i)->isHidden())
                out << type->child(i)->text(0).section(QLatin1Char(' '), 0, 0);
        return type->isHidden() ? QStringList{QStringLiteral("(none)")} : out;
    };
    QCOMPARE(shown(), (QStringList{"bare", "north", "south"})); // by serial, whichever answered first

    const struct {
        const char* typed;
        QStringList units;
    } cases[] = {
        {"NORTH", {"north"}},          // serial, letter case aside
        {"127.79.0.2", {"south"}},     // address
        {"v0.64", {"bare", "north"}},  // firmware version
        {"S-1", {"south"}},            // a TAP's serial shows its unit
        {"nowhere", {"(none)"}},
        {"", {"bare", "north", "south"}},
    };
    for (const auto& c : cases) {
        w.filter_edit()->setText(QString::fromLatin1(c.typed));
        QVERIFY2(shown() == c.units, qPrintable(QStringLiteral("%1: %2").arg(c.typed, shown().join(','))));
    }
    // A checked unit stays in sight; of the matching unit's TAPs only those that match.
    w.item_of(unit(3))->setCheckState(0, Qt::Checked);
    w.filter_edit()->setText(QStringLiteral("N-2"));
    QCOMPARE(shown(), (QStringList{"bare", "north"}));
    QVERIFY(w.item_of(*unit(1).taps[0])->isHidden());
    QVERIFY(!w.item_of(*unit(1).taps[1])->isHidden());
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
