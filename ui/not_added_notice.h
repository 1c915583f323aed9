#pragma once
// The status bar's word on addresses that were not added: a flat button
// reading "3 addresses not added — details" that opens a small list of them
// with the reason of each. A site may have a hundred units offline, so there
// is one notice however many there are; neither the notice nor its list
// takes the focus or waits for an answer.
#include <QToolButton>

class QDialog;
class QTreeWidget;

namespace talvor {

class unit_manager;

class CNotAddedNotice : public QToolButton {
    Q_OBJECT
public:
    explicit CNotAddedNotice(unit_manager& manager, QWidget* parent = nullptr);

    // Shows the manager's list as it is now; hidden while it is empty.
    void update_list();

    // The list window: one row per address (address, reason), filled
    // while it is open.
    QDialog* details() const { return details_; }
    QTreeWidget* entries() const { return entries_; }

private:
    void toggle_details();
    void fill_entries();

    unit_manager& manager_;
    QDialog* details_;
    QTreeWidget* entries_;
};

} // namespace talvor
