#include "ui/progress_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <cctype>
#include <string>

namespace talvor {

namespace {
constexpr unsigned ok_disabled = button_ok;         // the batch still runs
constexpr unsigned cancel_disabled = button_cancel; // "Cancel Operation" not ticked
} // namespace

std::string finished_instruction(const std::string& running)
{
    // "Updating firmware on ..." -> "Updated firmware on ...", and the few
    // headings that start with the imperative: "Erase user ..." -> "Erased user ...".
    const std::size_t space = running.find(' ');
    std::string past = running.substr(0, space);
    if (past.size() > 4 && past.compare(past.size() - 3, 3, "ing") == 0)
        past.resize(past.size() - 3);
    if (past.size() < 2 || !std::all_of(past.begin(), past.end(), [](char c) { return std::isalpha(c & 0xFF); }))
        return running;
    if (past.back() == 'y')
        past.back() = 'i';
    past += past.back() == 'e' ? "d" : "ed";
    return past + (space == std::string::npos ? "" : running.substr(space));
}

CProgressDialog::CProgressDialog(const progress_request& request, QWidget* parent) : request_(request)
{
    task_dialog_request r;
    r.title = request.title;
    r.main_instruction = request.main_instruction;
    r.verification_text = request.verification_text;
    r.buttons = button_ok | button_retry | button_cancel;
    r.disabled_buttons = ok_disabled | cancel_disabled;
    dialog_ = std::make_unique<CTaskDialog>(r, parent);
    // Offered once the batch has ended with failures: the window runs the
    // command again on the units that failed.
    QPushButton* retry = dialog_->button(IDRETRY);
    retry->setText(QStringLiteral("Retry Failed Units"));
    retry->setVisible(false);
    dialog_->show_progress_bar(0, 100);
    dialog_->on_button = [this](int id) { return clicked(id); };
    dialog_->on_verification = [this](bool checked) { verification(checked); };
    dialog_->start_timer(timer_ms, [this] { tick(); });
    tick();
}

int CProgressDialog::run()
{
    dialog_->exec();
    return dialog_->answer().button;
}

void CProgressDialog::tick()
{
    if (!request_.poll || !(dialog_->disabled_buttons() & ok_disabled))
        return;
    const progress_state s = request_.poll();
    dialog_->set_progress_error(s.error || dialog_->progress_error());
    if (s.finished) {
        dialog_->set_progress(std::clamp(s.position, 0, 100));
        // Nothing left to cancel: the box goes out of the way.
        if (QCheckBox* box = dialog_->verification()) {
            const QSignalBlocker quiet(box);
            box->setChecked(false);
            box->setEnabled(false);
        }
        dialog_->set_disabled_buttons(cancel_disabled);
        dialog_->button(IDRETRY)->setVisible(dialog_->progress_error());
        dialog_->main_instruction()->setText(QString::fromStdString(finished_instruction(request_.main_instruction)));
        set_content(progress_summary(s), s.results);
    } else {
        dialog_->set_progress(std::clamp(s.position, 0, 100));
        const std::string wait = progress_wait_text(s);
        set_content(wait.empty() ? progress_summary(s) : wait, {});
    }
    explain_cancel();
    dialog_->fit_contents();
}

void CProgressDialog::explain_cancel()
{
    const unsigned mask = dialog_->disabled_buttons();
    QPushButton* cancel = dialog_->button(IDCANCEL);
    cancel->setToolTip(!(mask & cancel_disabled) ? QString()
                       : (mask & ok_disabled)    ? QStringLiteral("Tick Cancel Operation first")
                                                 : QStringLiteral("The batch has ended"));
}

void CProgressDialog::set_content(const std::string& line, const std::string& results)
{
    QLabel* content = dialog_->content();
    const QString t = QString::fromStdString(line);
    if (content->text() != t) {
        content->setText(t);
        content->setVisible(!t.isEmpty());
    }
    dialog_->set_details(QString::fromStdString(results));
}

void CProgressDialog::verification(bool checked)
{
    unsigned mask = dialog_->disabled_buttons();
    if ((mask & ok_disabled) && checked)
        mask &= ~cancel_disabled;
    else
        mask |= cancel_disabled;
    dialog_->set_disabled_buttons(mask);
    explain_cancel();
}

bool CProgressDialog::clicked(int id)
{
    if (id != IDCANCEL)
        return true;
    const unsigned mask = dialog_->disabled_buttons();
    if (!(mask & ok_disabled))
        return true;
    if (mask & cancel_disabled)
        return false;
    if (request_.cancel)
        request_.cancel();
    return false;
}

} // namespace talvor
