#include "ui/main_dialog.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "inventory/address_list.h"
#include "operations/file_drops.h"
#include "operations/inventory_export.h"
#include "ui/custom_list_ctrl.h"
#include "ui/custom_tree_ctrl.h"
#include "ui/dd_button.h"
#include "ui/dd_split_button.h"
#include "ui/dialog_units.h"
#include "ui/not_added_notice.h"
#include "ui/settings_store_qt.h"
#include "ui/ui_resources.h"
#include "ui/val_edit.h"

namespace talvor {

namespace {
constexpr int status_part1_width = 120; // pixels, after the tree's left edge
} // namespace

CMainDialog::CMainDialog(window_bridge& bridge, dialogs& ui, AppSettings& settings, qt_settings_store& store,
                         QWidget* parent)
    : QDialog(parent), bridge_(bridge), ui_(ui), settings_(settings), store_(store),
      manager_(std::make_unique<unit_manager>(bridge, ui, settings, static_cast<unit_listener*>(this))),
      batch_(std::make_unique<batch_context>(*manager_, ui))
{
    manager_->group().tree = static_cast<tree_hook*>(this);
    batch_->consistency_check = consistency_check();
    manager_->other_message = [this](const window_message& m, message_reply&) -> std::intptr_t {
        run_batch([&] { return on_file_drop(*batch_, m); });
        return 0;
    };
    ensure_resources();
    setWindowIcon(QIcon(QStringLiteral(":/talvor/icon.png")));
    setWindowTitle(QString::fromUtf8(application_name.data(), application_name.size()));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // A resizable window that can fill the screen: the layout gives the
    // tree and the details list what a larger window has.
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    build_layout();
    place_window();
    update_buttons();
}

void CMainDialog::place_window()
{
    const QByteArray saved = store_.value(QStringLiteral("Window/Geometry")).toByteArray();
    if (!saved.isEmpty() && restoreGeometry(saved))
        return;
    // The reference layout's size, where the screen has room for it.
    QSize size = dlu_size(this, 565, 466).expandedTo(minimumSizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    resize(size);
}

CMainDialog::~CMainDialog()
{
    manager_->group().tree = nullptr;
    manager_->shut_down();
}

void CMainDialog::build_layout()
{
    auto push = [this](int id, const char* text) {
        auto* b = new QPushButton(QString::fromUtf8(text));
        b->setMinimumSize(dlu_size(this, 72, 14));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, id] { run_command(id); });
        buttons_[id] = b;
        return b;
    };
    auto action_push = [&](int id, const char* text) {
        QPushButton* b = push(id, text);
        b->setMinimumSize(dlu_size(this, 105, 14));
        return b;
    };
    auto split = [this](int id, const char* text, unsigned message,
                        std::initializer_list<std::pair<int, const char*>> items) {
        auto* b = new CDDSplitButton(QString::fromUtf8(text), bridge_, message);
        b->setMinimumSize(dlu_size(this, 105, 14));
        connect(b, &QToolButton::clicked, this, [this, id] { run_command(id); });
        for (const auto& [command, item_text] : items) {
            QAction* a = b->add_menu_item(command, QString::fromUtf8(item_text));
            const int c = command;
            connect(a, &QAction::triggered, this, [this, c] { run_command(c); });
            menu_items_[command] = a;
        }
        buttons_[id] = b;
        return b;
    };

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(dlu_x(this, 7), dlu_y(this, 7), dlu_x(this, 7), 0);
    auto* columns = new QHBoxLayout;
    columns->setSpacing(dlu_x(this, 14));
    outer->addLayout(columns, 1);

    // Left: the filter over the tree over its three view buttons. The tree
    // gives up height first, so that the window fits a laptop's screen.
    auto* left = new QVBoxLayout;
    left->setSpacing(dlu_y(this, 4));
    filter_ = new QLineEdit;
    filter_->setPlaceholderText(tr("Filter: serial, address, description, firmware version"));
    filter_->setToolTip(tr("Shows only the units and TAPs whose serial number, address, description or firmware "
                           "version holds this text; checked ones always show"));
    filter_->setClearButtonEnabled(true);
    connect(filter_, &QLineEdit::textChanged, this, &CMainDialog::apply_filter);
    left->addWidget(filter_);
    tree_ = new CCustomTreeCtrl;
    tree_->setMinimumSize(dlu_size(this, 267, 160));
    connect(tree_, &CCustomTreeCtrl::check_changed, this, &CMainDialog::on_check_changed);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, &CMainDialog::tree_context_menu);
    left->addWidget(tree_, 1);
    left->addSpacing(dlu_y(this, 5));
    auto* view_row = new QHBoxLayout;
    view_row->addStretch(1);
    view_row->addWidget(push(cmd_show_more, "Show More"));
    view_row->addStretch(1);
    view_row->addWidget(push(cmd_select_class, "Select Class"));
    view_row->addStretch(1);
    view_row->addWidget(push(cmd_show_less, "Show Less"));
    view_row->addStretch(1);
    left->addLayout(view_row);
    columns->addLayout(left, 267);

    // Right: details, actions, devices.
    auto* right = new QVBoxLayout;
    right->setSpacing(dlu_y(this, 9));
    auto* details_box = new QGroupBox(tr("Details"));
    auto* details_layout = new QVBoxLayout(details_box);
    details_layout->setContentsMargins(dlu_x(this, 10), dlu_y(this, 4), dlu_x(this, 13), dlu_y(this, 5));
    details_ = new CCustomListCtrl;
    details_->setMinimumSize(dlu_size(this, 247, 60));
    details_layout->addWidget(details_);
    right->addWidget(details_box, 1);

    auto* actions_box = new QGroupBox(tr("Actions"));
    actions_box->setMinimumSize(dlu_size(this, 270, 120));
    auto* actions = new QGridLayout(actions_box);
    actions->setContentsMargins(dlu_x(this, 24), dlu_y(this, 10), dlu_x(this, 24), dlu_y(this, 8));
    actions->setHorizontalSpacing(dlu_x(this, 14));
    actions->setVerticalSpacing(dlu_y(this, 10));
    actions->addWidget(action_push(cmd_download_configuration, "Download Configuration ..."), 0, 0);
    actions->addWidget(split(cmd_upload_configuration, "Upload Configuration ...", WM_DROP_CONFIGURATION,
                             {{cmd_upload_ct_types, "Upload CT Type Table"}}),
                       0, 1);
    auto* firmware = new CDDButton(QStringLiteral("Update Firmware ..."), bridge_, WM_DROP_FIRMWARE);
    firmware->setMinimumSize(dlu_size(this, 105, 14));
    firmware->setAutoDefault(false);
    connect(firmware, &QPushButton::clicked, this, [this] { run_command(cmd_update_firmware); });
    buttons_[cmd_update_firmware] = firmware;
    actions->addWidget(firmware, 1, 0);
    actions->addWidget(action_push(cmd_restart_selected, "Restart Selected"), 1, 1);
    actions->addWidget(action_push(cmd_erase_sd_card, "Erase SD-Card"), 2, 0);
    actions->addWidget(split(cmd_upload_customization, "Upload Customization ...", WM_DROP_CUSTOMIZATION,
                             {{cmd_remove_customization, "Remove Customization"}}),
                       2, 1);
    auto* certificate = split(cmd_upload_certificate, "Upload Custom TLS Certificate ...", WM_DROP_CERTIFICATE,
                              {{cmd_upload_private_key, "Upload Private Key"},
                               {cmd_regenerate_certificate, "Generate New Self-Signed Certificate"},
                               {cmd_delete_certificate, "Delete Custom Certificate and Key"}});
    certificate->setMinimumSize(dlu_size(this, 138, 14));
    actions->addWidget(certificate, 3, 0, 1, 2, Qt::AlignHCenter);
    for (int c = 0; c < 2; ++c)
        for (int r = 0; r < 3; ++r)
            if (auto* item = actions->itemAtPosition(r, c))
                if (auto* w = item->widget())
                    w->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    right->addWidget(actions_box);

    auto* devices_box = new QGroupBox(tr("Devices"));
    devices_box->setMinimumSize(dlu_size(this, 270, 72));
    auto* devices = new QVBoxLayout(devices_box);
    devices->setContentsMargins(dlu_x(this, 13), dlu_y(this, 10), dlu_x(this, 11), dlu_y(this, 9));
    devices->setSpacing(dlu_y(this, 11));
    auto* device_row = new QHBoxLayout;
    device_row->addWidget(push(cmd_reload_all, "Reload All"));
    device_row->addStretch(1);
    device_row->addWidget(push(cmd_discover, "Discover"));
    device_row->addStretch(1);
    auto* add_multiple = new CDDButton(QStringLiteral("Add Multiple ..."), bridge_, WM_DROP_ADDRESS_LISTS);
    add_multiple->setMinimumSize(dlu_size(this, 72, 14));
    add_multiple->setAutoDefault(false);
    connect(add_multiple, &QPushButton::clicked, this, [this] { run_command(cmd_add_multiple); });
    buttons_[cmd_add_multiple] = add_multiple;
    device_row->addWidget(add_multiple);
    devices->addLayout(device_row);
    auto* address_row = new QHBoxLayout;
    address_ = new CValEdit(QStringLiteral("0123456789abcdefABCDEF.:"));
    address_->set_cue_banner(tr("IP Address"));
    address_->setMinimumSize(dlu_size(this, 177, 14));
    connect(address_, &QLineEdit::textChanged, this, [this] { update_buttons(); });
    address_row->addWidget(address_, 177);
    address_row->addSpacing(dlu_x(this, 19));
    QPushButton* add = push(cmd_add, "Add");
    add->setMinimumSize(dlu_size(this, 50, 14));
    add->setDefault(true); // Enter adds the typed address
    address_row->addWidget(add, 50);
    devices->addLayout(address_row);
    right->addWidget(devices_box);
    columns->addLayout(right, 270);

    // Status bar: four parts, the middle two under the tree.
    status_bar_ = new QWidget;
    auto* bar = new QHBoxLayout(status_bar_);
    bar->setContentsMargins(0, 2, 0, 2);
    bar->setSpacing(2);
    for (auto*& part : status_) {
        part = new QLabel;
        part->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(part);
    }
    bar->setStretch(3, 1);
    // The free part holds notes (a saved file's path): cut short, never
    // widening the window; its tooltip has the whole text.
    status_[3]->setMinimumWidth(1);
    status_[3]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    not_added_ = new CNotAddedNotice(*manager_);
    bar->addWidget(not_added_);
    menu_button_ = new QToolButton;
    menu_button_->setText(QStringLiteral("\u2630"));
    menu_button_->setToolTip(tr("Passwords, inventory, address lists, batch history, about and settings"));
    menu_button_->setAutoRaise(true);
    menu_button_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(menu_button_);
    change_password_ = menu->addAction(tr("Change Password ..."), this, [this] { run_command(cmd_change_password); });
    menu->addAction(tr("Export Inventory ..."), this, &CMainDialog::export_inventory);
    menu->addAction(tr("Save Address List ..."), this, &CMainDialog::save_address_list);
    recent_menu_ = menu->addMenu(tr("Recent Lists"));
    connect(recent_menu_, &QMenu::aboutToShow, this, &CMainDialog::fill_recent_menu);
    fill_recent_menu();
    menu->addAction(tr("Batch History ..."), this, &CMainDialog::open_history);
    menu->addSeparator();
    menu->addAction(tr("About..."), this, &CMainDialog::open_about);
    menu->addAction(tr("Settings..."), this, &CMainDialog::open_settings);
    menu_button_->setMenu(menu);
    bar->addWidget(menu_button_);
    outer->addWidget(status_bar_);
    place_status_parts();
}

void CMainDialog::place_status_parts()
{
    if (!tree_ || !status_[0])
        return;
    const QRect t = tree_->geometry();
    const int widths[3] = {std::max(0, t.left() - 2), status_part1_width,
                           std::max(0, t.right() - t.left() - status_part1_width - 2)};
    for (int i = 0; i < 3; ++i) {
        status_[i]->setFixedWidth(widths[i]);
        // A label keeps the size hint it worked out under its old minimum
        // width until something about it changes: give it its indent again.
        status_[i]->setIndent(status_[i]->indent());
    }
}

void CMainDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    place_status_parts();
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    // Where the platform would offer the system menu's own items.
    QMenu menu(this);
    menu.addAction(tr("About..."), this, &CMainDialog::open_about);
    menu.addAction(tr("Settings..."), this, &CMainDialog::open_settings);
    menu.exec(event->globalPos());
}

bool CMainDialog::event(QEvent* event)
{
    // A modal window over this one: a batch's progress window shows the
    // action buttons off while its units are at work, and on again after.
    if (event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowUnblocked)
        update_buttons();
    return QDialog::event(event);
}

void CMainDialog::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* focused = qobject_cast<QAbstractButton*>(focusWidget());
    if (!enter || event->modifiers() & ~Qt::KeypadModifier || !focused || !focused->isEnabled()) {
        QDialog::keyPressEvent(event); // Enter elsewhere presses "Add", the default button
        return;
    }
    auto* tool = qobject_cast<QToolButton*>(focused);
    if (tool && tool->menu() && tool->popupMode() == QToolButton::InstantPopup)
        tool->showMenu();
    else
        focused->click();
}

QAbstractButton* CMainDialog::command_button(int id) const
{
    auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

} // namespace talvor
