#pragma once
// The one task dialog of the application: main instruction, content, radio
// buttons, verification check box, footer, common buttons, progress bar and
// a timer. Every question, error report and the batch progress window use it.
#include <QDialog>

#include <functional>
#include <map>

#include "inventory/dialogs.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace talvor {

class CTaskDialog : public QDialog {
    Q_OBJECT
public:
    explicit CTaskDialog(const task_dialog_request& request, QWidget* parent = nullptr);

    // The answer as it stands (button that closed it, radio, check box).
    task_dialog_answer answer() const;

    // Common buttons whose bit is set are disabled. With an ok_radio, OK
    // starts disabled and each radio choice sets or clears its bit.
    void set_disabled_buttons(unsigned mask);
    unsigned disabled_buttons() const { return disabled_mask_; }

    void show_progress_bar(int minimum, int maximum);
    void set_progress(int position);
    void set_progress_error(bool error);
    bool progress_error() const { return progress_error_; }
    int progress() const;

    // Lines under the content that scroll inside the dialog once there are
    // more than a dozen; empty hides them.
    void set_details(const QString& text);
    QLabel* details() const { return details_; }
    // Grows the open dialog to what its contents now need (texts and
    // buttons that changed after it was shown); it never shrinks by itself.
    void fit_contents();

    // Runs `tick` every `interval_ms` while the dialog is open.
    void start_timer(int interval_ms, std::function<void()> tick);

    // A common button was pressed (by id); return false to keep the dialog
    // open. Without a handler every button closes it.
    std::function<bool(int)> on_button;
    std::function<void(bool)> on_verification;

    QPushButton* button(int id) const;
    QAbstractButton* radio(int id) const;
    QCheckBox* verification() const { return verification_; }
    QLabel* main_instruction() const { return instruction_; }
    QLabel* content() const { return content_; }

    // Escape and the close box: Cancel when there is one; an OK-only report
    // closes as OK; anything else (Yes/No questions) cannot be cancelled.
    void reject() override;

private:
    void press(int id);
    void apply_buttons();

    std::map<int, QPushButton*> buttons_;
    std::map<int, QAbstractButton*> radios_;
    QButtonGroup* radio_group_ = nullptr;
    QCheckBox* verification_ = nullptr;
    QLabel* instruction_ = nullptr;
    QLabel* content_ = nullptr;
    QLabel* details_ = nullptr;
    QWidget* details_area_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer* timer_ = nullptr;
    std::function<void()> tick_;
    unsigned disabled_mask_ = 0;
    int ok_radio_ = 0;
    int result_button_ = IDCANCEL;
    bool progress_error_ = false;
};

// The standard icon of a dialog icon kind (null for none).
QIcon dialog_icon_of(dialog_icon icon, const QWidget* w);

} // namespace talvor
