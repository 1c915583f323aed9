#pragma once
// A push button that takes file drops and hands them to the window.
#include <QPushButton>

#include "inventory/window_bridge.h"

namespace talvor {

class CDDButton : public QPushButton {
    Q_OBJECT
public:
    CDDButton(const QString& text, window_bridge& bridge, unsigned message, QWidget* parent = nullptr);
    unsigned message() const { return message_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    window_bridge& bridge_;
    unsigned message_;
};

} // namespace talvor
