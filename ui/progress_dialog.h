#pragma once
// The batch progress window over the task dialog: the bar follows the
// batch's poll, OK opens once every unit has reported, and Cancel only
// works after "Cancel Operation" was ticked. A batch that ended with
// failures also offers "Retry Failed Units", which closes it with IDRETRY.
// The line under the heading counts the units done, failed and waiting
// (or, while units are awaited after an update, those not answered yet and
// the time left); once the batch is over each unit's result is listed below
// it, scrolling when long, the heading is in the past tense and "Cancel
// Operation" is cleared and off. The window grows to fit each state it
// reaches.
#include <memory>
#include <string>

#include "inventory/dialogs.h"
#include "ui/task_dialog.h"

namespace talvor {

// The heading once the batch has ended: its first word in the past tense
// ("Updating firmware ..." becomes "Updated firmware ...").
std::string finished_instruction(const std::string& running);

class CProgressDialog {
public:
    CProgressDialog(const progress_request& request, QWidget* parent = nullptr);
    // Modal run; the button that closed it.
    int run();
    CTaskDialog& dialog() { return *dialog_; }
    // One timer tick (also run by the timer itself).
    void tick();

    static constexpr int timer_ms = 200;

private:
    bool clicked(int id);
    void verification(bool checked);
    void set_content(const std::string& line, const std::string& results);
    // The greyed Cancel says why it is grey.
    void explain_cancel();

    progress_request request_;
    std::unique_ptr<CTaskDialog> dialog_;
};

} // namespace talvor
