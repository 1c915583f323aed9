// talvor-screenshots: opens the main window on a fleet, answers its prompts
// from a password file, and saves PNG pictures of the main window, the
// password prompt and the settings dialog into a folder.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "inventory/unit_group.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/main_dialog.h"
#include "ui/password_dialog.h"
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
        if (r.main_instruction != "CONNECTION NOT SECURE")
            return real_.task_dialog(r);
        if (!security_shot_) {
            CTaskDialog d(r);
            save(d, "security_prompt.png");
            security_shot_ = true;
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
    std::optional<std::filesystem::path> choose_file(const file_request& r) override { return real_.choose_file(r); }
    std::optional<std::filesystem::path> choose_folder(const folder_request& r) override
    {
        return real_.choose_folder(r);
    }
    int show_progress(const progress_request& r) override { return real_.show_progress(r); }
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& r) override
    {
        return real_.choose_categories(r);
    }

    void save(QWidget& w, const char* name)
    {
        w.show();
        QApplication::processEvents();
        const QString path = out_.filePath(QString::fromLatin1(name));
        w.grab().save(path, "PNG");
        w.hide();
        std::printf("%s\n", path.toLocal8Bit().constData());
    }

private:
    qt_dialogs& real_;
    std::string password_;
    QDir out_;
    bool password_shot_ = false;
    bool security_shot_ = false;
};

int usage()
{
    std::fputs("usage: talvor-screenshots --out DIR --password-file FILE --list FILE...\n", stderr);
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
    // Open the tree down to the TAPs and check the first unit, so the
    // details list has something to show.
    for (int i = 0; i < 3; ++i)
        window.show_more();
    for (const auto& unit : window.manager().group().units())
        if (auto* item = window.item_of(*unit)) {
            item->setCheckState(0, Qt::Checked);
            break;
        }
    dialogs.save(window, "main_window.png");
    window.show();

    CSettingsDialog settings_dialog(settings.values(), store, dialogs, &window);
    dialogs.save(settings_dialog, "settings_dialog.png");
    window.manager().shut_down();
    return 0;
}
