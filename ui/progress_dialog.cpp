#include "ui/progress_dialog.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <string>

namespace talvor {

namespace {
constexpr unsigned ok_disabled = button_ok;         // the batch still runs
constexpr unsigned cancel_disabled = button_cancel; // "Cancel Operation" not ticked
} // namespace

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
        dialog_->set_progress(100);
        dialog_->set_disabled_buttons(cancel_disabled);
        dialog_->button(IDRETRY)->setVisible(dialog_->progress_error());
        set_content(progress_summary(s), s.results);
    } else {
        dialog_->set_progress(std::clamp(s.position, 0, 100));
        const std::string wait = progress_wait_text(s);
        set_content(wait.empty() ? progress_summary(s) : wait, {});
    }
    dialog_->fit_contents();
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
