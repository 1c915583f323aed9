#pragma once
// The core's questions and reports as Qt dialogs, on the UI thread.
#include <QPointer>
#include <QString>
#include <QWidget>

#include "inventory/dialogs.h"

namespace talvor {

// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||" in Qt's form:
// "Text Files (*.txt);;All Files (*)".
QString qt_file_filter(const std::string& platform_filter);
// The kind of file a dialog asks for, by its filter's first pattern ("txt",
// "bin"); "file" without one. Each kind remembers its last folder.
QString file_kind(const std::string& platform_filter);

class qt_settings_store;

class qt_dialogs final : public dialogs {
public:
    explicit qt_dialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* parent) { parent_ = parent; }
    // Where the file dialogs remember the folder last used for each kind
    // of file; none: they open where Qt likes.
    void set_store(qt_settings_store* store) { store_ = store; }

    task_dialog_answer task_dialog(const task_dialog_request& request) override;
    std::optional<std::string> ask_password(const password_request& request) override;
    std::optional<new_password_entry> ask_new_password(const new_password_request& request) override;
    std::optional<std::filesystem::path> choose_file(const file_request& request) override;
    std::optional<std::filesystem::path> choose_folder(const folder_request& request) override;
    int show_progress(const progress_request& request) override;
    std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& request) override;

private:
    // The active window when there is one, as the platform's dialogs do.
    QWidget* owner() const;
    QString last_folder(const QString& kind) const;
    void remember_folder(const QString& kind, const QString& folder);

    QPointer<QWidget> parent_;
    qt_settings_store* store_ = nullptr;
};

} // namespace talvor
