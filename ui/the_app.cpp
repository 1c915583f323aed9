#include "ui/the_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

#include "ui/main_dialog.h"
#include "ui/qt_dialogs.h"
#include "ui/qt_window_bridge.h"
#include "ui/settings_store_qt.h"

namespace talvor {

namespace {

QString qs(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Checks of the platform the application was first written for. Here the
// task dialog is our own widget and networking needs no start-up, so both
// always pass; their reports stay for a platform where they can fail.
bool task_dialogs_available()
{
    return true;
}
bool networking_started()
{
    return true;
}

} // namespace

std::string app_usage_text()
{
    return "usage: talvor-manager [--list FILE]...\n"
           "  --list FILE   add the units of an address list file at start-up\n";
}

bool parse_app_options(const std::vector<std::string>& args, app_options& out, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--list") {
            if (i + 1 >= args.size()) {
                error = "--list needs a file";
                return false;
            }
            out.list_files.push_back(args[++i]);
        } else if (a.rfind("--list=", 0) == 0) {
            out.list_files.push_back(a.substr(7));
        } else {
            error = "unknown argument '" + a + "'";
            return false;
        }
    }
    return true;
}

int CTheApp::InitInstance(int argc, char** argv)
{
    QApplication app(argc, argv);
    // 1. The settings store's company key and the profile name.
    QCoreApplication::setOrganizationName(qs(settings_company));
    QCoreApplication::setApplicationName(qs(application_name));

    app_options options;
    std::string error;
    QStringList qt_args = QCoreApplication::arguments(); // Qt's own options already taken out
    std::vector<std::string> args;
    for (qsizetype i = 1; i < qt_args.size(); ++i)
        args.push_back(qt_args[i].toStdString());
    if (!parse_app_options(args, options, error)) {
        std::fprintf(stderr, "talvor-manager: %s\n%s", error.c_str(), app_usage_text().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(app_usage_text().c_str(), stdout);
        return 0;
    }

    // 2. Common controls: nothing to initialise.
    // 3. Task dialogs.
    if (!task_dialogs_available()) {
        QMessageBox::critical(nullptr, qs(application_name),
                              QStringLiteral("This verions of Windows does not support a required feature"));
        return 1;
    }
    // 4. Settings.
    qt_settings_store store;
    settings.assign(load_settings(store));

    qt_dialogs dialogs;
    // 5. Networking.
    if (!networking_started()) {
        task_dialog_request r = error_dialog(std::string(application_name), "Failed to initialise Windows networking", "");
        dialogs.task_dialog(r);
        return 1;
    }

    // 6. The main window, until it closes.
    qt_window_bridge bridge;
    {
        CMainDialog window(bridge, dialogs, settings, store);
        dialogs.set_parent(&window);
        dialogs.set_store(&store);
        QTimer::singleShot(0, &window, [&window, &options] {
            for (const std::string& file : options.list_files)
                window.manager().load_address_list(file);
        });
        window.exec();
        dialogs.set_parent(nullptr);
        dialogs.set_store(nullptr);
    } // 7. Its end stops every thread it owns.
    return 0;
}

} // namespace talvor
