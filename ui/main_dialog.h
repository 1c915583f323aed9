#pragma once
// The main window: the device tree, the details of the checked items, the
// device commands and the action buttons. Below it the unit_manager does the
// work; this class only shows what it is told and forwards the commands.
#include <QDialog>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "inventory/tree_node.h"
#include "operations/batch.h"
#include "operations/unit_manager.h"

class QAbstractButton;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidgetItem;
class QToolButton;

namespace talvor {

class CCustomListCtrl;
class CCustomTreeCtrl;
class CDDButton;
class CDDSplitButton;
class CNotAddedNotice;
class CValEdit;
class qt_settings_store;

// Command ids of the buttons and menu items.
enum main_command : int {
    cmd_add = 5, cmd_show_more = 3, cmd_show_less = 4, cmd_select_class = 6, cmd_add_multiple = 7,
    cmd_discover = 8, cmd_reload_all = 9, cmd_update_firmware = 10, cmd_erase_sd_card = 11,
    cmd_download_configuration = 15, cmd_upload_configuration = 16, cmd_restart_selected = 17,
    cmd_upload_certificate = 18, cmd_upload_customization = 1026, cmd_remove_customization = 40006,
    cmd_upload_ct_types = 40007, cmd_upload_private_key = 40008, cmd_regenerate_certificate = 40009,
    cmd_delete_certificate = 40010, cmd_change_password = 40011,
};

class CMainDialog : public QDialog, private unit_listener, private tree_hook {
    Q_OBJECT
public:
    CMainDialog(window_bridge& bridge, dialogs& ui, AppSettings& settings, qt_settings_store& store,
                QWidget* parent = nullptr);
    ~CMainDialog() override;

    unit_manager& manager() { return *manager_; }
    batch_context& batch() { return *batch_; }

    // Runs the command of a button or menu item, as a click would.
    void run_command(int id);
    // The context menu of a unit's tree node: "Open in browser", "Trust
    // Certificate", "Copy details", "Copy address" and "Remove from list",
    // each enabled only where it applies. Owned by the caller.
    std::unique_ptr<QMenu> unit_menu(CHubDevice& unit);
    // The tree/model agreement test every batch command runs first; a
    // disagreement ends the process after telling the user.
    std::function<void()> consistency_check();
    // True when every tree node agrees with the model.
    bool tree_consistent() const;

    // Re-evaluates which buttons are enabled.
    void update_buttons();
    void refresh_details();
    void show_more();
    void show_less();
    void select_class();
    void reload_all();
    void add_device();
    void open_about();
    void open_settings();
    void open_history();
    void save_address_list();
    void export_inventory();
    // Takes the unit off the tree and the list; false while units are at work.
    bool remove_unit(CHubDevice& unit);
    // Shows only the units and TAPs that match the filter field's text
    // (checked ones always show).
    void apply_filter();

    // The widgets, for the tests and the screenshots.
    CCustomTreeCtrl* tree() const { return tree_; }
    CCustomListCtrl* details() const { return details_; }
    CValEdit* address_edit() const { return address_; }
    QLabel* status_part(int n) const { return status_[n]; }
    CNotAddedNotice* not_added_notice() const { return not_added_; }
    QLineEdit* filter_edit() const { return filter_; }
    QToolButton* menu_button() const { return menu_button_; }
    // The ☰ menu's "Recent Lists" submenu: the address lists last loaded.
    QMenu* recent_menu() const { return recent_menu_; }
    QAbstractButton* command_button(int id) const;
    QTreeWidgetItem* item_of(const CHubDevice& unit) const;
    QTreeWidgetItem* item_of(const CTapDevice& tap) const;

    void reject() override; // Escape never closes the window

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Enter presses the focused button (the ☰ button opens its menu);
    // elsewhere it presses "Add".
    void keyPressEvent(QKeyEvent* event) override;

private:
    void build_layout();
    void on_check_changed(QTreeWidgetItem* item, bool checked);
    void update_status();
    void insert_unit(CHubDevice& unit);
    void place_status_parts();
    void run_batch_command(int id);
    // Runs a batch command, logs the batch it ran and, when its progress
    // window asks to, runs it again on the units that failed. Its result.
    int run_batch(const std::function<int()>& command);
    // Check marks after the model's selection changed under the tree.
    void show_selection();
    void tree_context_menu(const QPoint& pos);
    CHubDevice* unit_at(QTreeWidgetItem* item) const;
    void filter_unit(CHubDevice& unit, const std::string& text);
    // A word in the status bar's free part, until the next one.
    void show_note(const QString& text);
    void place_window();
    void remember_list(const std::filesystem::path& path);
    void fill_recent_menu();

    // unit_listener
    void unit_ready(CHubDevice& unit) override;
    void unit_removed(const removed_unit& info) override;
    void refresh_queued(CHubDevice& unit) override;
    void not_added_changed() override;
    void discovery_finished() override;
    void job_finished(CHubDevice& unit) override;
    void list_loaded(const std::filesystem::path& path) override;
    // tree_hook
    void suspend_redraw() override;
    void resume_redraw() override;
    void clear_check(tree_node node) override;

    window_bridge& bridge_;
    dialogs& ui_;
    AppSettings& settings_;
    qt_settings_store& store_;
    std::unique_ptr<unit_manager> manager_;
    std::unique_ptr<batch_context> batch_; // goes before the manager it hooks into

    CCustomTreeCtrl* tree_ = nullptr;
    CCustomListCtrl* details_ = nullptr;
    CValEdit* address_ = nullptr;
    QLabel* status_[4] = {};
    QWidget* status_bar_ = nullptr;
    CNotAddedNotice* not_added_ = nullptr;
    QToolButton* menu_button_ = nullptr;
    QMenu* recent_menu_ = nullptr;
    QLineEdit* filter_ = nullptr;
    std::map<int, QAbstractButton*> buttons_;
    std::map<int, QAction*> menu_items_;
    QAction* change_password_ = nullptr; // in the status bar's menu; enabled as the action buttons are
};

} // namespace talvor
