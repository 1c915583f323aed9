#pragma once
// "Batch History ...": the batches of the batch log, newest first, with the
// time, command, units and how many were ok and failed; choosing one lists
// each of its units' results below.
#include <QDialog>

#include <vector>

#include "operations/batch_history.h"

class QLabel;
class QTreeWidget;

namespace talvor {

class CHistoryDialog : public QDialog {
    Q_OBJECT
public:
    // `batches` oldest first, as read from the log.
    explicit CHistoryDialog(std::vector<history_batch> batches, QWidget* parent = nullptr);

    QTreeWidget* batches() const { return batches_; }
    QTreeWidget* units() const { return units_; }

private:
    void show_units(int batch);

    std::vector<history_batch> history_;
    QTreeWidget* batches_;
    QTreeWidget* units_;
    QLabel* empty_;
};

} // namespace talvor
