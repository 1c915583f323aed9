// The dialogs, controls and window bridge of the application, driven as a
// person would drive them (offscreen platform).
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fstream>
#include <thread>

#include "protocol/zt_hub.h"
#include "tests/connect/scripted_dialogs.h"
#include "ui/about_dialog.h"
#include "ui/config_class_dialog.h"
#include "ui/new_password_dialog.h"
#include "ui/password_dialog.h"
#include "ui/progress_dialog.h"
#include "ui/qt_dialogs.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_dialog.h"
#include "ui/settings_store_qt.h"
#include "ui/task_dialog.h"
#include "ui/val_edit.h"

using namespace talvor;

namespace {

// Answers every message with its wparam + 1, and notes the thread it ran on.
struct echo_target final : message_target {
    std::thread::id ran_on;
    std::intptr_t handle_message(const window_message& m, message_reply& reply) override
    {
        ran_on = std::this_thread::get_id();
        reply.reply(static_cast<std::intptr_t>(m.wparam) + 1); // early reply wins
        return -5;
    }
};

template <class Pred>
bool wait_without_events(Pred done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        std::this_thread::yield();
    return done();
}

} // namespace

class DialogTest : public QObject {
    Q_OBJECT
private slots:
    void address_edit_filters_typed_and_pasted_text();
    void password_show_toggle_restores_the_masking();
    void new_password_shows_both_entries_and_the_refusal();
    void security_prompt_answers_data();
    void security_prompt_answers();
    void task_dialog_ok_follows_the_chosen_radio();
    void progress_window_cancel_and_end();
    void category_choice_greys_what_not_every_unit_offers();
    void about_box_toggles_the_licence();
    void settings_write_failure_is_reported();
    void file_filters_in_qt_form();
    void bridge_runs_calls_and_tasks_on_the_ui_thread_and_releases_calls_on_shut_down();
};

void DialogTest::address_edit_filters_typed_and_pasted_text()
{
    CValEdit edit(QStringLiteral("0123456789abcdefABCDEF.:"));
    QClipboard* clip = QGuiApplication::clipboard();
    clip->setText(QStringLiteral("192.168.1.1"));
    edit.paste();
    QCOMPARE(edit.text(), QStringLiteral("192.168.1.1"));
    edit.clear();
    clip->setText(QStringLiteral("192.168.1.1 "));
    edit.paste();
    QCOMPARE(edit.text(), QString()); // ignored entirely, not cut at the space
    QTest::keyClicks(&edit, QStringLiteral("fe8g0::1"));
    QCOMPARE(edit.text(), QStringLiteral("fe80::1"));
}

void DialogTest::password_show_toggle_restores_the_masking()
{
    CPasswordDialog d(password_prompt_request("north"));
    QCOMPARE(d.windowTitle(), QStringLiteral("Password For \"north\""));
    QCOMPARE(d.edit()->echoMode(), QLineEdit::Password);
    d.show_box()->click();
    QCOMPARE(d.edit()->echoMode(), QLineEdit::Normal);
    QTest::keyClicks(d.edit(), QStringLiteral("caf"));
    d.edit()->insert(QStringLiteral("\u00e9"));
    QCOMPARE(d.edit()->displayText(), QStringLiteral("caf\u00e9"));
    d.show_box()->click();
    QCOMPARE(d.edit()->echoMode(), QLineEdit::Password);
    QVERIFY(d.edit()->displayText() != d.edit()->text());
    QCOMPARE(d.password(), std::string("caf\xc3\xa9"));
}

void DialogTest::new_password_shows_both_entries_and_the_refusal()
{
    new_password_request r;
    r.title = "Change Password";
    r.error = "The two entries differ: type the same password twice.";
    CNewPasswordDialog d(r);
    QVERIFY(!d.error_label()->isHidden());
    QCOMPARE(d.error_label()->text(), QString::fromStdString(r.error));
    QTest::keyClicks(d.first_edit(), QStringLiteral("one"));
    QTest::keyClicks(d.second_edit(), QStringLiteral("two"));
    d.show_box()->click();
    QCOMPARE(d.first_edit()->displayText(), QStringLiteral("one"));
    QCOMPARE(d.second_edit()->displayText(), QStringLiteral("two"));
    d.show_box()->click();
    QVERIFY(d.second_edit()->displayText() != d.second_edit()->text());
    const new_password_entry e = d.take_entry();
    QCOMPARE(e.first, std::string("one"));
    QCOMPARE(e.second, std::string("two"));
    QVERIFY(d.first_edit()->text().isEmpty() && d.second_edit()->text().isEmpty());
    QVERIFY(CNewPasswordDialog(new_password_request{}).error_label()->isHidden());
}

void DialogTest::security_prompt_answers_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<int>("answer");
    QTest::newRow("yes, do not ask again") << IDYES << true << 3;
    QTest::newRow("no, do not ask again") << IDNO << true << 2;
    QTest::newRow("no") << IDNO << false << 0;
}

void DialogTest::security_prompt_answers()
{
    QFETCH(int, button);
    QFETCH(bool, tick);
    QFETCH(int, answer);
    CTaskDialog d(security_prompt_request("north", problem_unencrypted | problem_identity));
    d.show();
    QVERIFY(d.button(IDNO)->isDefault());
    QVERIFY(d.content()->text().contains(QStringLiteral("\u2022    Connection is unencrypted")));
    d.reject(); // Escape: the question cannot be cancelled
    QVERIFY(d.isVisible());
    if (tick)
        d.verification()->click();
    d.button(button)->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(security_prompt_answer(d.answer()), answer);
}

void DialogTest::task_dialog_ok_follows_the_chosen_radio()
{
    task_dialog_request r;
    r.buttons = button_ok | button_cancel;
    r.radio_buttons = {{101, "apple"}, {102, "pear"}, {103, "plum"}};
    r.default_radio = 101;
    r.ok_radio = 102;
    r.disabled_radios = {103};
    CTaskDialog d(r);
    QVERIFY(!d.button(IDOK)->isEnabled());
    QVERIFY(!d.radio(103)->isEnabled());
    d.radio(102)->click();
    QVERIFY(d.button(IDOK)->isEnabled());
    d.radio(101)->click();
    QVERIFY(!d.button(IDOK)->isEnabled());
}

void DialogTest::progress_window_cancel_and_end()
{
    progress_state state{40, false, false, 2, {}, 4, 1, 0};
    int cancels = 0;
    progress_request r;
    r.title = "Restart";
    r.main_instruction = "Restarting units";
    r.verification_text = "Cancel Operation";
    r.poll = [&] { return state; };
    r.cancel = [&] { ++cancels; };
    CProgressDialog p(r);
    CTaskDialog& d = p.dialog();
    d.show();
    QCOMPARE(d.progress(), 40);
    QCOMPARE(d.content()->text(), QStringLiteral("1 of 4 units done, 2 waiting"));
    state.not_answered = 3;
    state.seconds_left = 252;
    p.tick();
    QCOMPARE(d.content()->text(), QStringLiteral("Waiting for 3 units to answer again, 4:12 left"));
    QVERIFY(!d.button(IDOK)->isEnabled());
    QVERIFY(!d.button(IDCANCEL)->isEnabled());
    QCOMPARE(d.button(IDCANCEL)->toolTip(), QStringLiteral("Tick Cancel Operation first"));
    d.verification()->click();
    QVERIFY(d.button(IDCANCEL)->isEnabled());
    QCOMPARE(d.button(IDCANCEL)->toolTip(), QString());
    d.button(IDCANCEL)->click();
    QCOMPARE(cancels, 1);
    QVERIFY(d.isVisible());

    state = {70, true, true, 0, "east: upload failed (500)", 4, 3, 1};
    p.tick();
    QCOMPARE(d.progress(), 70); // as the batch has it, not a jump to the end
    QCOMPARE(d.main_instruction()->text(), QStringLiteral("Restarted units"));
    QVERIFY(!d.verification()->isChecked() && !d.verification()->isEnabled());
    QCOMPARE(d.content()->text(), QStringLiteral("3 of 4 units done, 1 failed"));
    QCOMPARE(d.details()->text(), QStringLiteral("east: upload failed (500)"));
    QVERIFY(d.button(IDRETRY)->isVisible());
    QVERIFY(d.progress_error());
    QVERIFY(d.button(IDOK)->isEnabled());
    QVERIFY(!d.button(IDCANCEL)->isEnabled());
    d.reject(); // Cancel after the end closes
    QVERIFY(!d.isVisible());
    QCOMPARE(cancels, 1);
}

void DialogTest::category_choice_greys_what_not_every_unit_offers()
{
    CConfigClassDialog d({{true, 3, "Network"}, {false, 5, "Logs"}, {true, 1, "alarms"}});
    d.show();
    QListWidget* list = d.list();
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    QCOMPARE(names, (QStringList{"alarms", "Logs", "Network"}));
    QListWidgetItem* logs = list->item(1);
    QVERIFY(!(logs->flags() & (Qt::ItemIsEnabled | Qt::ItemIsUserCheckable))); // grey, cannot be ticked
    QVERIFY(!d.deselect_all_button()->isEnabled());

    d.select_all_button()->click();
    QCOMPARE(logs->checkState(), Qt::Unchecked);
    QVERIFY(!d.select_all_button()->isEnabled());
    QVERIFY(d.deselect_all_button()->isEnabled());
    list->item(2)->setCheckState(Qt::Unchecked);
    QVERIFY(d.select_all_button()->isEnabled());
    list->item(2)->setCheckState(Qt::Checked);
    d.accept();
    QCOMPARE(d.chosen(), (std::vector<std::uint32_t>{3, 1})); // from the last row to the first
}

void DialogTest::about_box_toggles_the_licence()
{
    CAboutDialog about;
    about.show();
    QCOMPARE(about.more_button()->text(), QStringLiteral("More"));
    QVERIFY(!about.licence()->isVisible());
    const int collapsed = about.height();
    about.more_button()->click();
    QCOMPARE(about.more_button()->text(), QStringLiteral("Less"));
    QVERIFY(about.licence()->isVisible());
    QVERIFY(about.licence()->toPlainText().contains(QStringLiteral("Permission is hereby granted")));
    QTRY_VERIFY(about.height() > collapsed);
    about.more_button()->click();
    QCOMPARE(about.more_button()->text(), QStringLiteral("More"));
    QVERIFY(!about.licence()->isVisible());
    QCOMPARE(version_text(2, 1, 105, 0), QStringLiteral("v2.1.105"));
    QCOMPARE(version_text(2, 1, 105, 3), QStringLiteral("v2.1.105+3"));
}

void DialogTest::settings_write_failure_is_reported()
{
    QTemporaryDir dir;
    const std::string blocker = dir.filePath(QStringLiteral("not-a-folder")).toStdString();
    std::ofstream(blocker) << "x";
    qt_settings_store store(blocker + "/settings.ini"); // its folder cannot exist
    test::scripted_dialogs ui;
    CSettingsDialog d(settings_values{0, 1}, store, ui);
    d.level_button(2)->click();
    d.enable_box()->click();
    d.accept();
    QCOMPARE(d.values().tls_checks, 2);
    QCOMPARE(d.values().discover_flags, 1);
    QCOMPARE(ui.tasks.size(), std::size_t(1));
    QVERIFY(ui.tasks[0].content.find(blocker + "/settings.ini") != std::string::npos);
}

void DialogTest::file_filters_in_qt_form()
{
    QCOMPARE(qt_file_filter("Text Files (*.txt)|*.txt|All Files (*.*)|*.*||"),
             QStringLiteral("Text Files (*.txt);;All Files (*)"));
    QCOMPARE(qt_file_filter("Firmware|*.bin;*.img||"), QStringLiteral("Firmware (*.bin *.img)"));
}

void DialogTest::bridge_runs_calls_and_tasks_on_the_ui_thread_and_releases_calls_on_shut_down()
{
    qt_window_bridge bridge;
    echo_target target;
    bridge.set_target(&target);
    std::atomic<std::intptr_t> answer{0};
    std::thread worker([&] { answer = bridge.send({WM_UNIT_FOUND, 41, 0}); });
    QTRY_COMPARE(answer.load(), std::intptr_t(42));
    worker.join();
    QCOMPARE(target.ran_on, std::this_thread::get_id());

    // A call still waiting for its turn when the window goes is released
    // with the refusal answer, and its handler never runs.
    std::atomic<bool> returned{false};
    std::thread waiting([&] {
        answer = bridge.send({WM_ASK_PASSWORD, 7, 0});
        returned = true;
    });
    QVERIFY(wait_without_events([&] { return bridge.pending_calls() == 1; }));
    target.ran_on = {};
    bridge.shut_down();
    QVERIFY(wait_without_events([&] { return returned.load(); }));
    waiting.join();
    QCOMPARE(answer.load(), refused_answer(WM_ASK_PASSWORD));
    QCoreApplication::processEvents();
    QCOMPARE(target.ran_on, std::thread::id());
    QCOMPARE(bridge.send({WM_UNIT_FOUND, 0, 0}), refused_answer(WM_UNIT_FOUND));

    // A task a worker hands over still runs, on the UI thread.
    std::thread::id task_on;
    std::thread poster([&] { bridge.post([&] { task_on = std::this_thread::get_id(); }); });
    poster.join();
    QTRY_COMPARE(task_on, std::this_thread::get_id());
}

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
