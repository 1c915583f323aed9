#include "ui/dd_button.h"

#include "ui/drop_files.h"

namespace talvor {

CDDButton::CDDButton(const QString& text, window_bridge& bridge, unsigned message, QWidget* parent)
    : QPushButton(text, parent), bridge_(bridge), message_(message)
{
    setAcceptDrops(true);
}

void CDDButton::dragEnterEvent(QDragEnterEvent* event)
{
    if (isEnabled())
        accept_file_drag(event);
}

void CDDButton::dropEvent(QDropEvent* event)
{
    forward_drop(event, &bridge_, message_);
}

} // namespace talvor
