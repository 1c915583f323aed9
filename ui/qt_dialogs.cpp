#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "transport/path_text.h"
#include "ui/config_class_dialog.h"
#include "ui/new_password_dialog.h"
#include "ui/password_dialog.h"
#include "ui/progress_dialog.h"
#include "ui/settings_store_qt.h"
#include "ui/task_dialog.h"
#include "ui/ui_thread.h"

namespace talvor {

QString qt_file_filter(const std::string& platform_filter)
{
    QStringList parts = QString::fromStdString(platform_filter).split(QLatin1Char('|'));
    QStringList out;
    static const QRegularExpression trailing_patterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            break; // the closing "||"
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*"); // names without a dot are files too
        }
        QString description = parts[i];
        description.remove(trailing_patterns);
        out << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

QString file_kind(const std::string& platform_filter)
{
    const QStringList parts = QString::fromStdString(platform_filter).split(QLatin1Char('|'));
    if (parts.size() >= 2) {
        const QString first = parts[1].split(QLatin1Char(';')).front().trimmed();
        const qsizetype dot = first.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0 && dot + 1 < first.size() && first.mid(dot + 1) != QLatin1String("*"))
            return first.mid(dot + 1).toLower();
    }
    return QStringLiteral("file");
}

QString qt_dialogs::last_folder(const QString& kind) const
{
    if (!store_)
        return {};
    const QString folder = store_->value(QStringLiteral("Folders/") + kind).toString();
    return QFileInfo(folder).isDir() ? folder : QString();
}

void qt_dialogs::remember_folder(const QString& kind, const QString& folder)
{
    if (store_)
        store_->set_value(QStringLiteral("Folders/") + kind, folder);
}

QWidget* qt_dialogs::owner() const
{
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return parent_.data();
}

task_dialog_answer qt_dialogs::task_dialog(const task_dialog_request& request)
{
    require_ui_thread("task_dialog");
    CTaskDialog d(request, owner());
    d.exec();
    return d.answer();
}

std::optional<std::string> qt_dialogs::ask_password(const password_request& request)
{
    require_ui_thread("ask_password");
    CPasswordDialog d(request, parent_.data());
    if (d.exec() != QDialog::Accepted)
        return std::nullopt;
    return d.password();
}

std::optional<new_password_entry> qt_dialogs::ask_new_password(const new_password_request& request)
{
    require_ui_thread("ask_new_password");
    CNewPasswordDialog d(request, owner());
    if (d.exec() != QDialog::Accepted)
        return std::nullopt;
    return d.take_entry();
}

std::optional<std::filesystem::path> qt_dialogs::choose_file(const file_request& r)
{
    require_ui_thread("choose_file");
    QFileDialog d(owner(), QString::fromStdString(r.title));
    d.setOption(QFileDialog::DontUseNativeDialog);
    d.setNameFilter(qt_file_filter(r.filter));
    if (r.save) {
        d.setAcceptMode(QFileDialog::AcceptSave);
        d.setFileMode(QFileDialog::AnyFile);
        if (!r.overwrite_prompt)
            d.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        d.setAcceptMode(QFileDialog::AcceptOpen);
        d.setFileMode(QFileDialog::ExistingFile);
    }
    if (!r.default_extension.empty())
        d.setDefaultSuffix(QString::fromStdString(r.default_extension));
    const QString kind = file_kind(r.filter);
    if (const QString folder = last_folder(kind); !folder.isEmpty())
        d.setDirectory(folder);
    if (!r.default_name.empty())
        d.selectFile(QString::fromStdString(r.default_name));
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = d.selectedFiles().front();
    remember_folder(kind, QFileInfo(chosen).absolutePath());
    return utf8_path(chosen.toStdString());
}

std::optional<std::filesystem::path> qt_dialogs::choose_folder(const folder_request& r)
{
    require_ui_thread("choose_folder");
    const QString kind = QStringLiteral("folder");
    const QString dir = QFileDialog::getExistingDirectory(owner(), QString::fromStdString(r.title), last_folder(kind),
                                                          QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (dir.isEmpty())
        return std::nullopt;
    remember_folder(kind, dir);
    return utf8_path(dir.toStdString());
}

int qt_dialogs::show_progress(const progress_request& request)
{
    require_ui_thread("show_progress");
    CProgressDialog d(request, owner());
    return d.run();
}

std::optional<std::vector<std::uint32_t>> qt_dialogs::choose_categories(const category_request& request)
{
    require_ui_thread("choose_categories");
    CConfigClassDialog d(request.rows, owner());
    if (d.exec() != QDialog::Accepted)
        return std::nullopt;
    return d.chosen();
}

} // namespace talvor
