// Every dialog fits its contents in the states it reaches: no widget is
// smaller than it asks to be, sticks out of its parent or covers another.
// Run once as it is and once with QT_SCALE_FACTOR=1.5.
#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include "tests/connect/scripted_dialogs.h"
#include "transport/conn_sess.h"
#include "ui/config_class_dialog.h"
#include "ui/main_dialog.h"
#include "ui/new_password_dialog.h"
#include "ui/password_dialog.h"
#include "ui/progress_dialog.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_dialog.h"
#include "ui/settings_store_qt.h"
#include "ui/task_dialog.h"

using namespace talvor;

namespace {

QString describe(const QWidget& w)
{
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(&w))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(&w))
        text = button->text();
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w.metaObject()->className()), text.left(40));
}

QString rect_text(const QRect& r)
{
    return QStringLiteral("%1x%2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

// Why `top` does not fit its contents, or nothing. A widget without a
// layout of its own (a spin box, a scroll area) is checked as a whole: its
// inner parts are its own business, and a scroll area's content may scroll.
QStringList misfits(QWidget& top)
{
    QStringList out;
    std::function<void(QWidget&)> walk = [&](QWidget& parent) {
        QList<QWidget*> shown;
        for (QObject* o : parent.children())
            if (auto* w = qobject_cast<QWidget*>(o); w && !w->isWindow() && w->isVisibleTo(&top))
                shown.push_back(w);
        for (qsizetype i = 0; i < shown.size(); ++i) {
            QWidget& w = *shown[i];
            // An empty label shows nothing that could be cut.
            if (const auto* label = qobject_cast<const QLabel*>(&w);
                label && label->text().isEmpty() && label->pixmap().isNull())
                continue;
            // Wrapped text needs its height at the width it got.
            const QSize need = w.hasHeightForWidth()
                                   ? QSize(w.minimumSizeHint().width(), w.heightForWidth(w.width()))
                                   : w.sizeHint();
            if (need.width() > w.width() || need.height() > w.height())
                out << describe(w) + QStringLiteral(" needs %1x%2, has %3")
                                         .arg(need.width())
                                         .arg(need.height())
                                         .arg(rect_text(w.geometry()));
            if (!parent.rect().contains(w.geometry()))
                out << describe(w) + QStringLiteral(" at %1 leaves its parent %2")
                                         .arg(rect_text(w.geometry()), describe(parent));
            for (qsizetype j = i + 1; j < shown.size(); ++j)
                if (w.geometry().intersects(shown[j]->geometry()))
                    out << describe(w) + QStringLiteral(" overlaps ") + describe(*shown[j]);
            if (w.layout())
                walk(w);
        }
    };
    walk(top);
    return out;
}

// Lets the posted layout requests run, as the event loop would between
// two timer ticks.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QString result_lines(int n)
{
    QStringList lines;
    for (int i = 1; i <= n; ++i)
        lines << QStringLiteral("TLV-210%1 [127.66.0.%2]: %3 (version 0.64.2%4)")
                     .arg(i, 2, 10, QLatin1Char('0'))
                     .arg(i)
                     .arg(i % 10 == 0 ? QStringLiteral("cancelled") : QStringLiteral("ok"))
                     .arg(i % 10 == 0 ? QString() : QStringLiteral(" -> 0.65.0"));
    return lines.join(QLatin1Char('\n'));
}

// A progress window opened while its batch runs, then brought to `end` by
// the next tick, as a person sees it.
std::shared_ptr<QWidget> progress_window(const std::string& instruction, progress_state end)
{
    auto s = std::make_shared<progress_state>(progress_state{.position = 20, .total = end.total});
    progress_request r;
    r.title = "Update Firmware";
    r.main_instruction = instruction;
    r.verification_text = "Cancel Operation";
    r.poll = [s] { return *s; };
    r.cancel = [] {};
    auto p = std::make_shared<CProgressDialog>(r);
    p->dialog().show();
    settle();
    *s = std::move(end);
    p->tick();
    return {p, &p->dialog()};
}

struct opened {
    const char* name;
    std::function<std::shared_ptr<QWidget>()> open;
};

std::vector<opened> dialogs_in_their_states()
{
    const std::string updating = "Updating firmware on selected device(s)";
    const std::string verifying = "Verifying firmware on updated device(s)";
    std::vector<opened> rows;
    auto progress = [](std::string instruction, progress_state end) {
        return [=] { return progress_window(instruction, end); };
    };
    rows.push_back({"progress running, units waiting",
                    progress(updating, {.position = 30, .waiting = 4, .total = 6, .done = 1})});
    rows.push_back({"progress running, a unit failed",
                    progress(updating, {.position = 55, .error = true, .total = 6, .done = 2, .failed = 1})});
    rows.push_back({"verification waiting for answers",
                    progress(verifying, {.position = 40, .total = 5, .not_answered = 5, .seconds_left = 252})});
    rows.push_back({"verification cancelled, one result",
                    progress(verifying, {.position = 100, .error = true, .finished = true,
                                         .results = "TLV-21001 [127.66.0.1]: cancelled (version 0.64.2)",
                                         .total = 1, .failed = 1})});
    rows.push_back({"progress finished, fifty results",
                    progress(updating, {.position = 100, .error = true, .finished = true,
                                        .results = result_lines(50).toStdString(), .total = 50, .done = 45,
                                        .failed = 5})});
    rows.push_back({"word confirmation with footer and check box", [] {
                        task_dialog_request r;
                        r.title = "Update Firmware";
                        r.main_instruction = "Update firmware on selected devices";
                        r.content = "Select \"Pineapple\" if you are sure you really want to perform this operation";
                        r.footer = "TAPs connected to newer units will not be automatically restarted after they "
                                   "have received their firmware update. They will need to be restarted explicitly "
                                   "to complete installation of the new firmware";
                        r.footer_icon = r.main_icon = dialog_icon::warning;
                        r.buttons = button_ok | button_cancel;
                        for (const char* word : {"Grape", "Kumquat", "Pineapple", "Lime", "Lemon", "Orange",
                                                 "Banana", "Apple"})
                            r.radio_buttons.emplace_back(2000 + int(r.radio_buttons.size()), word);
                        r.ok_radio = 2002;
                        r.verification_text = "Verify the installed version after the update";
                        auto d = std::make_shared<CTaskDialog>(r);
                        d->show();
                        return d;
                    }});
    rows.push_back({"security prompt with every problem", [] {
                        auto d = std::make_shared<CTaskDialog>(security_prompt_request(
                            "TLV-21001 North riser", problem_identity | problem_untrusted | problem_invalid));
                        d->show();
                        return d;
                    }});
    rows.push_back({"error report with a long path", [] {
                        auto d = std::make_shared<CTaskDialog>(error_dialog(
                            "Settings", "Failed to save the settings",
                            "The settings could not be written to \"/home/installer/.config/a-rather-long-folder/"
                            "with-more-folders-below/settings.ini\"."));
                        d->show();
                        return d;
                    }});
    rows.push_back({"password prompt after a refusal", [] {
                        auto d = std::make_shared<CPasswordDialog>(
                            password_prompt_request("TLV-21001 North riser, ground floor", "127.66.0.1", true));
                        d->show();
                        return d;
                    }});
    rows.push_back({"new password, refused once", [] {
                        new_password_request r;
                        r.title = "Change Password";
                        r.main_instruction = "New Administrator Password";
                        r.first_label = "New password";
                        r.second_label = "Confirm new password";
                        r.show_text = "Show password";
                        r.error = "The password holds a character the units cannot take: use letters, digits and "
                                  "signs of Western European languages.";
                        auto d = std::make_shared<CNewPasswordDialog>(r);
                        d->show();
                        return d;
                    }});
    rows.push_back({"category choice, many rows", [] {
                        std::vector<category_row> cats;
                        for (std::uint32_t i = 0; i < 30; ++i)
                            cats.push_back({i % 7 != 0, 1u << (i % 31), "Secondary ethernet port " + std::to_string(i)});
                        auto d = std::make_shared<CConfigClassDialog>(cats);
                        d->show();
                        return d;
                    }});
    rows.push_back({"settings", [] {
                        struct held {
                            QTemporaryDir dir;
                            std::unique_ptr<qt_settings_store> store;
                            test::scripted_dialogs ui;
                            std::unique_ptr<CSettingsDialog> dialog;
                        };
                        auto h = std::make_shared<held>();
                        h->store = std::make_unique<qt_settings_store>(
                            h->dir.filePath(QStringLiteral("settings.ini")).toStdString());
                        h->dialog = std::make_unique<CSettingsDialog>(settings_values{1, 1}, *h->store, h->ui);
                        h->dialog->show();
                        return std::shared_ptr<QWidget>(h, h->dialog.get());
                    }});
    return rows;
}

} // namespace

class FitTest : public QObject {
    Q_OBJECT
private slots:
    void every_state_fits_data();
    void every_state_fits();
    void main_window_fits_a_laptop_screen();
};

void FitTest::every_state_fits_data()
{
    QTest::addColumn<int>("row");
    const auto rows = dialogs_in_their_states();
    for (std::size_t i = 0; i < rows.size(); ++i)
        QTest::newRow(rows[i].name) << int(i);
}

void FitTest::every_state_fits()
{
    QFETCH(int, row);
    const std::shared_ptr<QWidget> top = dialogs_in_their_states()[std::size_t(row)].open();
    settle();
    const QStringList problems = misfits(*top);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
}

// The screens users have: 1366x768 at the usual scale, 1920x1080 at 1.5,
// less a title bar and a task bar. Every control must be there, whole,
// with the tree and the details list smaller.
void FitTest::main_window_fits_a_laptop_screen()
{
    const bool scaled = qEnvironmentVariable("QT_SCALE_FACTOR") == QStringLiteral("1.5");
    const QSize screen = scaled ? QSize(1920 * 2 / 3, 1080 * 2 / 3) : QSize(1366, 768);
    const QSize room = screen - QSize(0, 72);
    QTemporaryDir dir;
    qt_window_bridge bridge;
    test::scripted_dialogs ui;
    AppSettings settings;
    qt_settings_store store(dir.filePath(QStringLiteral("settings.ini")).toStdString());
    CMainDialog window(bridge, ui, settings, store);
    const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
    QVERIFY2(least.width() <= room.width() && least.height() <= room.height(),
             qPrintable(QStringLiteral("needs at least %1x%2").arg(least.width()).arg(least.height())));
    window.resize(room);
    window.show();
    settle();
    QCOMPARE(window.size(), room);
    const QStringList problems = misfits(window);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
}

QTEST_MAIN(FitTest)
#include "fit_test.moc"
