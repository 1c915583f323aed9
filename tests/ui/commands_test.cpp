// The batch commands of the main window against simulated units, through
// the real dialogs: a firmware update from its button, file drops on the
// action buttons, and a unit's context menu. The process runs in a network
// namespace of its own, so the units' addresses (::1 too) are nobody else's.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>

#include "operations/batch_report.h"
#include "simulator/hubsim.h"
#include "tests/connect/netns.h"
#include "tests/operations/firmware_images.h"
#include "transport/conn_sess.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/main_dialog.h"
#include "ui/qt_dialogs.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_store_qt.h"
#include "ui/task_dialog.h"

using namespace talvor;

namespace {

// The real Qt dialogs, except that files and passwords come from the test.
class test_dialogs final : public dialogs {
public:
    qt_dialogs real;
    std::optional<std::filesystem::path> file;

    task_dialog_answer task_dialog(const task_dialog_request& r) override { return real.task_dialog(r); }
    std::optional<std::string> ask_password(const password_request&) override { return std::string("pw"); }
    std::optional<std::filesystem::path> choose_file(const file_request&) override { return file; }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return std::nullopt; }
    int show_progress(const progress_request& r) override { return real.show_progress(r); }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& r) override
    {
        return real.choose_categories(r);
    }
};

struct seen_dialog {
    QString title, instruction, content;
};

// Acts on every modal task dialog as it opens: the next scripted step, or
// else closes it as Cancel would. Every dialog is noted.
class modal_driver : public QObject {
public:
    std::deque<std::function<void(CTaskDialog&)>> steps;
    std::vector<seen_dialog> seen;

    modal_driver()
    {
        connect(&timer_, &QTimer::timeout, this, &modal_driver::poll);
        timer_.start(10);
    }

private:
    void poll()
    {
        auto* d = qobject_cast<CTaskDialog*>(QApplication::activeModalWidget());
        if (!d || d == last_.data() || !d->isVisible())
            return;
        last_ = d;
        seen.push_back({d->windowTitle(), d->main_instruction()->text(), d->content()->text()});
        if (!steps.empty()) {
            auto step = std::move(steps.front());
            steps.pop_front();
            step(*d);
        }
        // Unscripted, or a step that failed before it closed its dialog.
        if (last_ && last_->isVisible())
            last_->done(IDCANCEL);
    }

    QTimer timer_;
    QPointer<CTaskDialog> last_;
};

// QDesktopServices hands the URLs of these schemes here instead of to a browser.
class url_catcher : public QObject {
    Q_OBJECT
public:
    QStringList urls;
public slots:
    void open(const QUrl& url) { urls << url.toString(); }
};

std::string unit_json(const std::string& name, const std::string& kind, const std::string& address,
                      std::uint32_t caps, const std::string& extra = "")
{
    return R"({"name":")" + name + R"(","kind":")" + kind + R"(","address":")" + address +
           R"(","password":"pw","gen_conf":{"system":"622","ser":")" + name +
           R"(","fw_v_net":"v0.60.0","capabilities":)" + std::to_string(caps) + "}" + extra + "}";
}

// The confirmation's word, from its content text.
QString word_to_choose(const CTaskDialog& d)
{
    static const QRegularExpression quoted(QStringLiteral("^Select \"([A-Za-z]+)\" if you are sure"));
    return quoted.match(d.content()->text()).captured(1);
}

QAbstractButton* radio_with(const CTaskDialog& d, const QString& text, bool want)
{
    for (int id = 2000; id < 2008; ++id)
        if (QAbstractButton* rb = d.radio(id); rb && (rb->text() == text) == want)
            return rb;
    return nullptr;
}

// Picks the right word and confirms.
void confirm(CTaskDialog& d)
{
    radio_with(d, word_to_choose(d), true)->click();
    d.button(IDOK)->click();
}

void drop(QWidget* target, const QStringList& paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void firmware_update_from_the_button_with_one_unit_failing();
    void retry_runs_the_batch_again_on_the_failed_units_only();
    void verification_box_reports_a_version_that_did_not_change();
    void drops_on_the_action_buttons_data();
    void drops_on_the_action_buttons();
    void unit_menu_opens_the_browser_trusts_copies_and_removes();

private:
    // Serves the units, adds them, waits until all are shown and checks them.
    void serve(const std::vector<std::string>& units, bool check = true);
    CHubDevice& unit(const std::string& address);
    QString write(const QString& name, const std::string& bytes);

    QTemporaryDir dir_;
    std::unique_ptr<sim::fleet_server> fleet_;
    std::unique_ptr<qt_window_bridge> bridge_;
    std::unique_ptr<test_dialogs> ui_;
    std::unique_ptr<AppSettings> settings_;
    std::unique_ptr<qt_settings_store> store_;
    std::unique_ptr<CMainDialog> window_;
    std::unique_ptr<modal_driver> driver_;
};

void CommandsTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toLocal8Bit()); // the batch log
    set_trusted_folder(dir_.filePath(QStringLiteral("trusted")).toStdString());
}

void CommandsTest::cleanup()
{
    window_.reset();
    driver_.reset();
    store_.reset();
    bridge_.reset();
    fleet_.reset();
}

void CommandsTest::serve(const std::vector<std::string>& units, bool check)
{
    std::string list;
    for (const auto& u : units)
        list += (list.empty() ? "" : ",") + u;
    fleet_ = std::make_unique<sim::fleet_server>(R"({"discovery":"off","units":[)" + list + "]}",
                                                 dir_.filePath(QStringLiteral("sim")).toStdString());
    bridge_ = std::make_unique<qt_window_bridge>();
    ui_ = std::make_unique<test_dialogs>();
    settings_ = std::make_unique<AppSettings>();
    settings_->tls_checks = 0; // no security question
    store_ = std::make_unique<qt_settings_store>(dir_.filePath(QStringLiteral("settings.ini")).toStdString());
    window_ = std::make_unique<CMainDialog>(*bridge_, *ui_, *settings_, *store_);
    ui_->real.set_parent(window_.get());
    window_->show();
    driver_ = std::make_unique<modal_driver>();
    for (const auto& line : fleet_->describe()) {
        // "NAME ADDRESS KIND"
        const auto a = line.find(' ') + 1;
        QCOMPARE(window_->manager().add_device(line.substr(a, line.rfind(' ') - a)), add_result::added);
    }
    QTRY_VERIFY_WITH_TIMEOUT(window_->manager().idle(), 30000);
    QCOMPARE(window_->manager().group().units().size(), units.size());
    if (check)
        for (const auto& u : window_->manager().group().units())
            window_->item_of(*u)->setCheckState(0, Qt::Checked);
}

CHubDevice& CommandsTest::unit(const std::string& address)
{
    for (const auto& u : window_->manager().group().units())
        if (u->address_string() == address)
            return *u;
    qFatal("unit %s not listed", address.c_str());
}

QString CommandsTest::write(const QString& name, const std::string& bytes)
{
    const QString path = dir_.filePath(name);
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
    return path;
}

void CommandsTest::firmware_update_from_the_button_with_one_unit_failing()
{
    // "steady" never answers its upload, so the batch runs until cancelled.
    serve({unit_json("steady", "http", "127.80.0.1", cap_progress, R"(,"faults":{"stall":["fw_net_file.action"]})"),
           unit_json("failing", "http", "127.80.0.2", cap_progress,
                     R"(,"faults":{"fail":{"fw_net_file.action":500}})")});
    ui_->file = write(QStringLiteral("hub.bin"), test::hub_image(300)).toStdString();
    unit_manager& m = window_->manager();
    bool confirmed = false, progress_done = false;

    driver_->steps.push_back([&](CTaskDialog& d) {
        QCOMPARE(d.windowTitle(), QStringLiteral("Update Firmware"));
        QPushButton* ok = d.button(IDOK);
        QVERIFY(!ok->isEnabled()); // the preselected word is never the right one
        const QString word = word_to_choose(d);
        QVERIFY(radio_with(d, word, true));
        radio_with(d, word, true)->click();
        QVERIFY(ok->isEnabled());
        radio_with(d, word, false)->click();
        QVERIFY(!ok->isEnabled());
        confirm(d);
        confirmed = true;
    });
    driver_->steps.push_back([&](CTaskDialog& d) {
        QCOMPARE(d.main_instruction()->text(), QStringLiteral("Updating firmware on selected device(s)"));
        QPushButton* ok = d.button(IDOK);
        QPushButton* cancel = d.button(IDCANCEL);
        QVERIFY(QTest::qWaitFor([&] { return d.progress_error(); }, 20000)); // "failing" has reported
        QCOMPARE(m.busy().size(), std::size_t(1));
        QVERIFY(!ok->isEnabled() && !cancel->isEnabled());
        d.reject(); // Cancel while it is disabled does nothing
        QVERIFY(d.isVisible());
        d.verification()->click();
        QVERIFY(cancel->isEnabled());
        cancel->click(); // asks every unit to cancel; the window stays
        QVERIFY(d.isVisible());
        QVERIFY(QTest::qWaitFor([&] { return ok->isEnabled(); }, 20000));
        QCOMPARE(d.progress(), 0); // one failed, one cancelled: no work was done
        QVERIFY(d.progress_error());
        QVERIFY(!cancel->isEnabled());
        QVERIFY(m.busy().empty());
        ok->click();
        progress_done = !d.isVisible();
    });
    QTest::mouseClick(window_->command_button(cmd_update_firmware), Qt::LeftButton);
    QVERIFY(confirmed);
    QVERIFY(progress_done);
    QCOMPARE(driver_->seen.size(), std::size_t(2));
}

void CommandsTest::retry_runs_the_batch_again_on_the_failed_units_only()
{
    serve({unit_json("good", "http", "127.80.0.1", cap_progress),
           unit_json("failing", "http", "127.80.0.2", cap_progress,
                     R"(,"faults":{"fail":{"fw_net_file.action":[500]}})")}); // fails once
    ui_->file = write(QStringLiteral("hub.bin"), test::hub_image(300)).toStdString();
    qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("retry-state")).toLocal8Bit()); // a log of its own
    batch_context& batch = window_->batch();
    auto finish_with = [&](int button, std::size_t units) {
        return [&batch, button, units](CTaskDialog& d) {
            QCOMPARE(batch.outcomes().size(), units);
            QPushButton* retry = d.button(IDRETRY);
            QCOMPARE(retry->text(), QStringLiteral("Retry Failed Units"));
            QVERIFY(!retry->isVisible());
            QVERIFY(QTest::qWaitFor([&] { return d.button(IDOK)->isEnabled(); }, 20000));
            QCOMPARE(retry->isVisible(), d.progress_error());
            d.button(button)->click();
        };
    };
    driver_->steps = {confirm, finish_with(IDRETRY, 2),
                      [](CTaskDialog& d) { d.button(IDYES)->click(); }, // the image loaded before
                      confirm, finish_with(IDOK, 1)};
    QTest::mouseClick(window_->command_button(cmd_update_firmware), Qt::LeftButton);
    QVERIFY(driver_->steps.empty());
    QCOMPARE(driver_->seen[2].content, QStringLiteral("Use previously loaded firmware image ?"));
    QCOMPARE(window_->item_of(unit("127.80.0.1"))->checkState(0), Qt::Unchecked);
    QCOMPARE(window_->item_of(unit("127.80.0.2"))->checkState(0), Qt::Checked);
    QVERIFY(window_->tree_consistent());
    QCOMPARE(window_->status_part(1)->text(), QStringLiteral("Selected: 1"));

    // Both batches are in the log: two units, then the one retried.
    int lines = 0;
    for (const auto& e : std::filesystem::directory_iterator(batch_log_folder())) {
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);)
            lines += line.find("\"127.80.0.") != std::string::npos;
    }
    QCOMPARE(lines, 3);
}

void CommandsTest::verification_box_reports_a_version_that_did_not_change()
{
    // The unit restarts after its upload, but with the version it had.
    serve({unit_json("kept", "http", "127.80.0.1", cap_progress,
                     R"(,"install_ms":4000,"faults":{"keep_version":true})")});
    std::string image = test::hub_image(300);
    image.replace(0x40, 7, "v0.65.0");
    ui_->file = write(QStringLiteral("hub.bin"), image).toStdString();
    qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("verify-state")).toLocal8Bit());
    QString verified;
    auto finish = [](CTaskDialog& d) {
        QVERIFY(QTest::qWaitFor([&] { return d.button(IDOK)->isEnabled(); }, 30000));
        d.button(IDOK)->click();
    };
    driver_->steps = {[](CTaskDialog& d) {
                          QCOMPARE(d.verification()->text(),
                                   QStringLiteral("Verify the installed version after the update"));
                          d.verification()->click();
                          confirm(d);
                      },
                      finish,
                      [&](CTaskDialog& d) {
                          QCOMPARE(d.main_instruction()->text(),
                                   QStringLiteral("Verifying firmware on updated device(s)"));
                          QVERIFY(QTest::qWaitFor([&] { return d.button(IDOK)->isEnabled(); }, 30000));
                          QVERIFY(!d.progress_error());
                          verified = d.details()->text();
                          d.button(IDOK)->click();
                      }};
    QTest::mouseClick(window_->command_button(cmd_update_firmware), Qt::LeftButton);
    QVERIFY(driver_->steps.empty());
    QVERIFY2(verified.endsWith(
                 QStringLiteral(": version unchanged at 0.60.0, the unit restarted (version 0.60.0 -> 0.60.0)")),
             qPrintable(verified));

    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(batch_log_folder()))
        log.append(std::istreambuf_iterator<char>(std::ifstream(e.path()).rdbuf()), {});
    QVERIFY2(log.find("\"version unchanged at 0.60.0, the unit restarted\"") != std::string::npos, log.c_str());
}

void CommandsTest::drops_on_the_action_buttons_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("instruction");
    QTest::addColumn<QString>("content");
    const QString multiple = QStringLiteral("Multiple files not supported");
    QTest::newRow("two firmware files") << int(cmd_update_firmware) << QStringList{"a.bin", "b.bin"}
                                        << "Firmware Update" << multiple << "Only a single firmware file can be used !";
    QTest::newRow("two configurations") << int(cmd_upload_configuration) << QStringList{"a.cfg", "b.cfg"}
                                        << "Upload Configuration" << multiple
                                        << "Only a single configuration file can be used !";
    QTest::newRow("two customizations") << int(cmd_upload_customization) << QStringList{"a.cst", "b.cst"}
                                        << "Upload Customization" << multiple
                                        << "Only a single customization file can be used !";
    QTest::newRow("two certificates") << int(cmd_upload_certificate) << QStringList{"a.pem", "b.pem"}
                                      << "Upload User Certificate" << multiple
                                      << "Only a single certificate file can be used !";
    QTest::newRow("a CT type table in capitals") << int(cmd_upload_configuration) << QStringList{"TABLE.CSV"}
                                                 << "Upload CT Type Table" << "" << "CT type file is invalid !";
    QTest::newRow("a configuration") << int(cmd_upload_configuration) << QStringList{"site.cfg"}
                                     << "Upload Configuration" << "\"Talvor System\" Configuration File"
                                     << "Configuration file version is invalid !";
}

void CommandsTest::drops_on_the_action_buttons()
{
    QFETCH(int, button);
    QFETCH(QStringList, files);
    QFETCH(QString, title);
    QFETCH(QString, instruction);
    QFETCH(QString, content);
    serve({unit_json("north", "http", "127.80.0.1", cap_config | cap_customisation | cap_certificates)});
    QStringList paths;
    for (const QString& f : files)
        paths << write(f, "not what it claims to be\n");
    drop(window_->command_button(button), paths);
    QCOMPARE(driver_->seen.size(), std::size_t(1));
    QCOMPARE(driver_->seen[0].title, title);
    if (!instruction.isEmpty())
        QCOMPARE(driver_->seen[0].instruction, instruction);
    // A refused file is named, with the reason, under the command's own text.
    QVERIFY2(driver_->seen[0].content == content || driver_->seen[0].content.startsWith(content + "\n\n" + paths[0]),
             qPrintable(driver_->seen[0].content));
}

void CommandsTest::unit_menu_opens_the_browser_trusts_copies_and_removes()
{
    serve({unit_json("secure", "wss", "127.80.0.3", 0), unit_json("six", "http", "::1", 0)}, false);
    url_catcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    auto actions = [&](const std::string& address) {
        std::unique_ptr<QMenu> menu = window_->unit_menu(unit(address));
        const QList<QAction*> list = menu->actions();
        menu.release()->deleteLater();
        return list;
    };

    const QList<QAction*> secure = actions("127.80.0.3");
    QCOMPARE(secure[0]->text(), QStringLiteral("Open in browser"));
    QCOMPARE(secure[1]->text(), QStringLiteral("Trust Certificate"));
    QVERIFY(secure[0]->isEnabled() && secure[1]->isEnabled());
    QCOMPARE(secure[7]->text(), QStringLiteral("Change Password ..."));
    QVERIFY(!secure[7]->isEnabled()); // nothing checked
    secure[0]->trigger();
    secure[1]->trigger();
    QCOMPARE(secure[4]->text(), QStringLiteral("Copy address"));
    secure[4]->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("127.80.0.3"));
    secure[3]->trigger(); // "Copy details": the details rows
    QVERIFY(QGuiApplication::clipboard()->text().contains(QStringLiteral("IP Address: 127.80.0.3\n")));
    const QList<QAction*> six = actions("::1");
    QVERIFY(six[0]->isEnabled());
    QVERIFY(!six[1]->isEnabled()); // plain HTTP presents no certificate
    six[0]->trigger();
    QCOMPARE(six[5]->text(), QStringLiteral("Remove from list"));
    six[5]->trigger(); // goes from the tree and the list, while the other unit stays
    QCOMPARE(window_->manager().group().units().size(), std::size_t(1));
    QCOMPARE(window_->tree()->topLevelItem(0)->childCount(), 1);
    QVERIFY(window_->tree_consistent());
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QCOMPARE(catcher.urls, (QStringList{"https://127.80.0.3", "http://[::1]"}));
    QVERIFY(driver_->seen.empty()); // no "Certificate Import Failed"
    QVERIFY(!QDir(dir_.filePath(QStringLiteral("trusted"))).isEmpty());
}

int main(int argc, char** argv)
{
    // Before any thread starts, so that every thread lives there.
    if (!test::isolate_thread()) {
        std::fprintf(stderr, "ui_commands_tests: cannot make a network namespace (needs root): %s\n",
                     std::strerror(errno));
        return 1;
    }
    QApplication app(argc, argv);
    CommandsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "commands_test.moc"
