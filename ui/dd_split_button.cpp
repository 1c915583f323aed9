#include "ui/dd_split_button.h"

#include <QMenu>

#include "ui/drop_files.h"

namespace talvor {

CDDSplitButton::CDDSplitButton(const QString& text, window_bridge& bridge, unsigned message, QWidget* parent)
    : QToolButton(parent), bridge_(bridge), message_(message), menu_(new QMenu(this))
{
    setText(text);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setPopupMode(QToolButton::MenuButtonPopup);
    setMenu(menu_);
    setAcceptDrops(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QAction* CDDSplitButton::add_menu_item(int command, const QString& text)
{
    QAction* a = menu_->addAction(text);
    a->setData(command);
    return a;
}

void CDDSplitButton::dragEnterEvent(QDragEnterEvent* event)
{
    if (isEnabled())
        accept_file_drag(event);
}

void CDDSplitButton::dropEvent(QDropEvent* event)
{
    forward_drop(event, &bridge_, message_);
}

} // namespace talvor
