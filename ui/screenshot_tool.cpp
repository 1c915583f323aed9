// talvor-screenshots: opens the main window on a fleet, answers its prompts
// from a password file, and saves PNG pictures into a folder: the main
// window as large as the screen allows, a unit's tooltip, the filter, the
// prompts (the security prompt, the one for a problem the first answer did
// not cover, the password prompt and the one after a refusal), the
// settings dialog, the About box's licences, the configuration category
// choice, a configuration download and where its files went, the inventory
// export's note, an upload's confirmation, a firmware update on the fleet
// (the word confirmation, the progress window running and at its end, the
// verification waiting for the units and its end after a cancel), the
// batch history, and the end of a batch of fifty. With --accept-settings
// LEVEL it then presses OK in the settings dialog with discovery on and that
// TLS check level (0 to 2), so that a run shows where the settings are kept.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "inventory/unit_group.h"
#include "operations/batch_history.h"
#include "operations/batch_report.h"
#include "operations/commands.h"
#include "operations/firmware_verify.h"
#include "ui/about_dialog.h"
#include "ui/config_class_dialog.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/history_dialog.h"
#include "ui/main_dialog.h"
#include "ui/new_password_dialog.h"
#include "ui/password_dialog.h"
#include "ui/progress_dialog.h"
#include "ui/qt_dialogs.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_dialog.h"
#include "ui/settings_store_qt.h"
#include "ui/task_dialog.h"

using namespace talvor;

namespace {

// The real dialogs, except that the prompts answer themselves (after their
// picture is taken): the password from the file, security "yes to all".
class shot_dialogs final : public dialogs {
public:
    shot_dialogs(qt_dialogs& real, std::string password, QDir out)
        : real_(real), password_(std::move(password)), out_(std::move(out))
    {
    }
    task_dialog_answer task_dialog(const task_dialog_request& r) override
    {
        if (r.ok_radio != 0) {
            // The word confirmation, with the right word chosen.
            CTaskDialog d(r);
            if (auto* right = d.radio(r.ok_radio))
                right->click();
            // The firmware update's check box asks for the verification after it.
            if (d.verification())
                d.verification()->setChecked(true);
            save(d, confirmation_name.c_str());
            if (!confirm)
                return {IDCANCEL, 0, false};
            return {IDOK, r.ok_radio, d.verification() != nullptr};
        }
        if (go_on && r.main_instruction != "CONNECTION NOT SECURE")
            return {(r.buttons & button_yes) ? IDYES : IDOK, r.default_radio, true};
        if (r.main_instruction != "CONNECTION NOT SECURE")
            return real_.task_dialog(r);
        // The first prompt, and the next one: after "yes to all" on the
        // first, only a problem it did not list asks again.
        if (security_shots_ < 2) {
            CTaskDialog d(r);
            if (d.verification() && security_shots_ == 0)
                d.verification()->setChecked(true);
            save(d, security_shots_++ == 0 ? "security_prompt.png" : "security_prompt_new_problem.png");
        }
        task_dialog_answer a;
        a.button = IDYES;
        a.verification_checked = true;
        return a;
    }
    std::optional<std::string> ask_password(const password_request& r) override
    {
        if (!password_shot_) {
            CPasswordDialog d(r);
            d.edit()->setText(QString::fromStdString(password_));
            save(d, "password_prompt.png");
            password_shot_ = true;
        }
        return password_;
    }
    // Two entries that differ, so the prompt comes back with its refusal;
    // that one is shot and cancelled, and nothing is sent.
    std::optional<new_password_entry> ask_new_password(const new_password_request& r) override
    {
        std::string typed = "talvor-demo-2", again = "talvor-demo-3";
        if (r.error.empty())
            return new_password_entry(typed, again);
        CNewPasswordDialog d(r);
        d.first_edit()->setText(QString::fromStdString(typed));
        d.second_edit()->setText(QString::fromStdString(again));
        save(d, "new_password_prompt.png");
        return std::nullopt;
    }
    // Files and folders come from the scene, never from a dialog waiting
    // for a person.
    std::optional<std::filesystem::path> choose_file(const file_request&) override { return next_file; }
    std::optional<std::filesystem::path> choose_folder(const folder_request&) override { return next_folder; }
    // The progress window runs as usual; its picture is taken once the bar
    // has moved (or after two seconds), and again at the end, when it closes
    // itself. The update's window comes first; the verification after it is
    // cancelled once its picture is taken (the demo units never install).
    int show_progress(const progress_request& r) override
    {
        if (!progress_prefix.empty()) {
            // A batch whose end alone is of interest.
            CProgressDialog p(r);
            QElapsedTimer t;
            t.start();
            p.dialog().show();
            while (!r.poll().finished && t.elapsed() < 60000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            p.tick();
            save(p.dialog(), (progress_prefix + "_finished.png").c_str());
            return IDOK;
        }
        const bool verifying = progress_windows_++ > 0;
        CProgressDialog p(r);
        CTaskDialog& d = p.dialog();
        d.show();
        QElapsedTimer t;
        t.start();
        bool shot = false;
        while (t.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            const progress_state s = r.poll();
            if (!shot && (verifying ? t.elapsed() > 1500 : s.position > 0 || s.finished || t.elapsed() > 2000)) {
                p.tick();
                save(d, verifying ? "verify_waiting.png" : "progress_dialog.png", false);
                shot = true;
                if (verifying) {
                    d.verification()->setChecked(true);
                    d.button(IDCANCEL)->click();
                }
            }
            if (s.finished)
                break;
        }
        p.tick();
        save(d, verifying ? "verify_cancelled.png" : "progress_finished.png", false);
        d.hide();
        return IDOK;
    }
    // The first category every unit offers.
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& r) override
    {
        for (const category_row& row : r.rows)
            if (row.available)
                return std::vector<std::uint32_t>{row.id};
        return std::nullopt;
    }

    // Answers every other question with the button that goes on (the
    // firmware update's warnings), rather than waiting for a person.
    bool go_on = false;
    // The word confirmation's picture, and whether it is answered or cancelled.
    std::string confirmation_name = "confirmation.png";
    bool confirm = true;
    // What the file and folder questions answer.
    std::optional<std::filesystem::path> next_file, next_folder;
    // Set: the next progress window is shot at its end only, as PREFIX_finished.png.
    std::string progress_prefix;

    void save(QWidget& w, const char* name, bool hide = true)
    {
        w.show();
        QApplication::processEvents();
        const QString path = out_.filePath(QString::fromLatin1(name));
        w.grab().save(path, "PNG");
        if (hide)
            w.hide();
        std::printf("%s\n", path.toLocal8Bit().constData());
    }
    // What the screen shows over `area` (logical pixels): windows of their
    // own, such as tooltips, included.
    void save_screen(const QRect& area, const char* name)
    {
        QApplication::processEvents();
        QScreen* screen = QGuiApplication::primaryScreen();
        const QString path = out_.filePath(QString::fromLatin1(name));
        screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path, "PNG");
        std::printf("%s\n", path.toLocal8Bit().constData());
    }

private:
    qt_dialogs& real_;
    std::string password_;
    QDir out_;
    bool password_shot_ = false;
    int security_shots_ = 0;
    int progress_windows_ = 0;
};

// More units than the demo has: the end state of a batch of fifty, made up.
void save_fifty_results(shot_dialogs& dialogs)
{
    auto state = std::make_shared<progress_state>();
    state->total = 50;
    progress_request r;
    r.title = "Update Firmware";
    r.main_instruction = "Updating firmware on selected device(s)";
    r.verification_text = "Cancel Operation";
    r.poll = [state] { return *state; };
    r.cancel = [] {};
    CProgressDialog p(r);
    p.dialog().show();
    QApplication::processEvents();
    state->finished = state->error = true;
    state->position = 100;
    for (int i = 1; i <= 50; ++i) {
        const bool failed = i % 9 == 0;
        state->results += (i > 1 ? "\n" : "") + std::string("TLV-2") + std::to_string(1000 + i) + " [127.77.1." +
                          std::to_string(i) + "]: " + (failed ? "did not answer again" : "ok") + " (version 0.64.2" +
                          (failed ? "" : " -> 0.65.0") + ")";
        if (failed)
            ++state->failed;
        else
            ++state->done;
    }
    p.tick();
    dialogs.save(p.dialog(), "progress_fifty_results.png");
}

// A small image of the hub's own firmware, signed, in the image format the
// units take (magic, length, hardware code).
std::filesystem::path write_hub_image(const QDir& dir, int hardware)
{
    std::string image(4096, '\x5a');
    image.replace(0, 4, "gUwF");
    for (int i = 0; i < 4; ++i)
        image[4 + i] = static_cast<char>((image.size() >> (8 * i)) & 0xFF);
    image[0x0C] = static_cast<char>(hardware & 0xFF);
    image[0x0D] = static_cast<char>(hardware >> 8);
    image += std::string("\x30\x03\x02\x01\x05", 5); // a DER signature
    const std::filesystem::path path = dir.filePath(QStringLiteral("hub-firmware.bin")).toStdString();
    std::ofstream(path, std::ios::binary) << image;
    return path;
}

int usage()
{
    std::fputs("usage: talvor-screenshots --out DIR --password-file FILE --list FILE... [--accept-settings LEVEL]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromUtf8(settings_company.data(), settings_company.size()));
    QCoreApplication::setApplicationName(QString::fromUtf8(application_name.data(), application_name.size()));

    QString out_dir;
    std::string password_file;
    std::vector<std::string> lists;
    int accept_level = -1;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return usage();
        if (args[i] == QLatin1String("--out"))
            out_dir = args[++i];
        else if (args[i] == QLatin1String("--password-file"))
            password_file = args[++i].toStdString();
        else if (args[i] == QLatin1String("--list"))
            lists.push_back(args[++i].toStdString());
        else if (args[i] == QLatin1String("--accept-settings"))
            accept_level = args[++i].toInt();
        else
            return usage();
    }
    if (out_dir.isEmpty() || password_file.empty() || lists.empty())
        return usage();
    std::ifstream in(password_file, std::ios::binary);
    std::string password((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!password.empty() && password.back() == '\n')
        password.pop_back();
    QDir out(out_dir);
    out.mkpath(QStringLiteral("."));

    qt_settings_store store;
    AppSettings settings;
    settings.assign(load_settings(store));
    qt_dialogs real;
    shot_dialogs dialogs(real, password, out);
    qt_window_bridge bridge;
    CMainDialog window(bridge, dialogs, settings, store);
    real.set_parent(&window);
    window.show();
    for (const std::string& f : lists)
        window.manager().load_address_list(f);

    // Until every unit has reported (bounded).
    QElapsedTimer waited;
    waited.start();
    while (!window.manager().idle() && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!window.manager().idle()) {
        std::fputs("talvor-screenshots: the units did not all report within 60 s\n", stderr);
        return 1;
    }
    // The window as large as a laptop's screen allows (less a title bar
    // and a task bar), the tree open down to the TAPs and the first unit
    // checked, so the details list has something to show.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window.resize(screen.width(), screen.height() - 72);
    window.move(screen.topLeft());
    for (int i = 0; i < 3; ++i)
        window.show_more();
    unit_group& group = window.manager().group();
    CHubDevice* first = nullptr;
    for (const auto& unit : group.units())
        if (auto* item = window.item_of(*unit); item && !first) {
            item->setCheckState(0, Qt::Checked);
            first = unit.get();
        }
    dialogs.save(window, "main_window.png", false);

    // The tooltip of the unit drawn in red with the most problems.
    CHubDevice* worst = nullptr;
    for (const auto& unit : group.units())
        if (window.item_of(*unit) && unit->hub &&
            (!worst || std::popcount(unit->hub->found_problems) > std::popcount(worst->hub->found_problems)))
            worst = unit.get();
    if (worst) {
        QTreeWidgetItem* item = window.item_of(*worst);
        CCustomTreeCtrl* tree = window.tree();
        tree->scrollToItem(item, QAbstractItemView::PositionAtCenter);
        const QRect r = tree->visualItemRect(item);
        const QPoint at = tree->viewport()->mapToGlobal(r.center());
        QToolTip::showText(at, item->toolTip(0), tree->viewport(), {}, 60000);
        QApplication::processEvents();
        QRect area = window.frameGeometry();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->inherits("QTipLabel"))
                area = area.united(w->geometry().adjusted(-8, -8, 8, 8));
        const QRect shot(QPoint(window.geometry().left(), std::max(area.top(), at.y() - 160)),
                         QPoint(std::min(area.right(), window.geometry().left() + 900),
                                std::min(area.bottom(), at.y() + 180)));
        dialogs.save_screen(shot.intersected(screen), "unit_tooltip.png");
        QToolTip::hideText();
    }

    // The filter, as typed.
    window.filter_edit()->setText(QStringLiteral("TLV-2"));
    dialogs.save(window, "filter.png", false);
    window.filter_edit()->clear();

    // The password prompt after the unit refused what was typed.
    if (first) {
        CPasswordDialog refused(password_prompt_request(first->label, first->address_string(), true));
        dialogs.save(refused, "password_prompt_refused.png");
    }

    CSettingsDialog settings_dialog(settings.values(), store, dialogs, &window);
    dialogs.save(settings_dialog, "settings_dialog.png");
    CAboutDialog about(&window);
    about.more_button()->click();
    about.licences()->setCurrentIndex(1); // Qt's, with where its source is
    dialogs.save(about, "about_licences.png");
    if (accept_level >= 0 && accept_level <= 2) {
        settings_dialog.enable_box()->setChecked(true);
        settings_dialog.level_button(accept_level)->setChecked(true);
        settings_dialog.accept();
    }

    // Every unit of the checked one's class, for the category choice, a
    // configuration download and a firmware update of the hubs themselves.
    window.select_class();
    CConfigClassDialog categories(category_rows(group).rows, &window);
    for (int i = 0; i < categories.list()->count(); ++i)
        if (CConfigClassDialog::row_data(categories.list()->item(i)) != CConfigClassDialog::unavailable) {
            categories.list()->item(i)->setCheckState(Qt::Checked);
            break;
        }
    dialogs.save(categories, "category_dialog.png");
    OnChangePassword(window.batch());

    QTemporaryDir scratch;
    const QDir files(scratch.path());
    dialogs.go_on = true;
    dialogs.next_folder = files.path().toStdString();
    dialogs.progress_prefix = "download";
    window.run_command(cmd_download_configuration);
    dialogs.progress_prefix.clear();

    // The inventory export's word in the status bar.
    dialogs.next_file = files.filePath(QStringLiteral("inventory.csv")).toStdString();
    window.export_inventory();
    dialogs.save(window, "export_note.png", false);

    // Uploading the first unit's downloaded file to every unit of its
    // class: the confirmation, then cancelled.
    QStringList saved = files.entryList({QStringLiteral("*.cfg")}, QDir::Files, QDir::Name);
    if (!saved.isEmpty()) {
        dialogs.next_file = files.filePath(saved.front()).toStdString();
        dialogs.confirmation_name = "upload_confirmation.png";
        dialogs.confirm = false;
        OnUploadConfiguration(window.batch(), nullptr);
        dialogs.confirmation_name = "confirmation.png";
        dialogs.confirm = true;
    }

    const int hardware = group.selected_class == class_orvane_system ? 522 : 622;
    const std::filesystem::path image = write_hub_image(files, hardware);
    OnFirmwareUpdate(window.batch(), &image);
    if (window.batch().verify_chosen)
        verify_firmware(window.batch(), verify_timeout_default);
    append_batch_log(batch_report(window.batch()));

    CHistoryDialog history(read_batch_history(batch_log_folder()), &window);
    dialogs.save(history, "batch_history.png");
    save_fifty_results(dialogs);
    window.manager().shut_down();
    return 0;
}
