#pragma once
// A split button (main action plus a drop-down menu) that takes file drops.
#include <QToolButton>

#include "inventory/window_bridge.h"

class QMenu;

namespace talvor {

class CDDSplitButton : public QToolButton {
    Q_OBJECT
public:
    CDDSplitButton(const QString& text, window_bridge& bridge, unsigned message, QWidget* parent = nullptr);
    unsigned message() const { return message_; }
    // The drop-down's items; each action's data is its command id.
    QAction* add_menu_item(int command, const QString& text);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    window_bridge& bridge_;
    unsigned message_;
    QMenu* menu_;
};

} // namespace talvor
