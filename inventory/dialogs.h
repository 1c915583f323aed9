#pragma once
// Everything the core asks or tells the user. The core builds each request
// with its exact texts and acts on the answer; a front end only shows it
// (Qt dialogs, a terminal, or a test script).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvor {

// Button results, numbered as the platform's dialog results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDRETRY = 4;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDCLOSE = 8;

// Common buttons of a task dialog (bit mask).
inline constexpr unsigned button_ok = 0x01;
inline constexpr unsigned button_yes = 0x02;
inline constexpr unsigned button_no = 0x04;
inline constexpr unsigned button_cancel = 0x08;
inline constexpr unsigned button_retry = 0x10;
inline constexpr unsigned button_close = 0x20;

enum class dialog_icon { none, information, warning, error, shield };

// All texts are UTF-8.
struct task_dialog_request {
    std::string title;
    std::string main_instruction;
    std::string content;
    std::string footer;
    unsigned buttons = button_ok;
    int default_button = 0; // a result id; 0 = the front end's choice
    std::vector<std::pair<int, std::string>> radio_buttons; // id, caption, in display order
    int default_radio = 0;
    std::string verification_text; // empty = no check box
    bool verification_checked = false;
    dialog_icon main_icon = dialog_icon::none;
    dialog_icon footer_icon = dialog_icon::none;
    int width = 0; // dialog units; 0 = automatic
    // Common buttons (bit mask as above) that start disabled.
    unsigned disabled_buttons = 0;
    // Radio buttons (ids) that are shown but cannot be chosen.
    std::vector<int> disabled_radios;
    // When nonzero, OK is enabled only while this radio button is chosen
    // (the word confirmation); OK starts disabled. The front end enforces
    // the rule, the core still checks the answer.
    int ok_radio = 0;
};

struct task_dialog_answer {
    int button = IDCANCEL;
    int radio = 0;
    bool verification_checked = false;
};

struct password_request {
    std::string caption;      // "Password For \"<label>\""
    std::string group_title;  // "Administrator Password"
    std::string show_text;    // "Show password"
    std::string label;        // the unit's label alone
    std::string unit;         // the unit named with its address: "TLV-21001 [127.92.0.1]"
    std::string refusal;      // "The unit refused this password." after a refusal; else empty
    // For front ends that answer per unit: its address text, and its serial
    // once the unit has been read (empty before its first login).
    std::string address;
    std::string serial;
};

// The new administrator password of a batch, typed twice.
struct new_password_request {
    std::string title;
    std::string main_instruction;
    std::string first_label;
    std::string second_label;
    std::string show_text;
    std::string error; // why the last entry was refused; empty the first time
};

// What was typed, as UTF-8; wiped when it goes.
struct new_password_entry {
    std::string first, second;
    new_password_entry() = default;
    // Takes the texts over, wiping them where they were.
    new_password_entry(std::string& typed, std::string& again);
    new_password_entry(const new_password_entry&) = delete;
    new_password_entry& operator=(const new_password_entry&) = delete;
    new_password_entry(new_password_entry&& other) noexcept;
    new_password_entry& operator=(new_password_entry&& other) noexcept;
    ~new_password_entry();
};

struct file_request {
    std::string title;
    // Platform filter text: pairs of description and pattern joined by '|',
    // ended by "||" (e.g. "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||").
    std::string filter;
    bool save = false;
    std::string default_name;
    std::string default_extension; // without the dot; added to a typed name that has none
    bool overwrite_prompt = false; // save only: ask before replacing an existing file
};

struct folder_request {
    std::string title;
};

// What the batch progress window shows at one timer tick.
struct progress_state {
    // 0 to 100: the work done, each unit of the window a like share (a unit
    // that failed or was cancelled did none of it).
    int position = 0;
    bool error = false;    // a unit's job failed: the bar shows the error state
    bool finished = false; // every unit has reported: 100, OK enabled, Cancel disabled
    int waiting = 0;       // units not yet started: their turn comes as others finish
    // Once finished: one line per unit that failed or whose firmware version
    // was checked ("label: reason (version before -> after)").
    std::string results{};
    // The units of this window (a follow-up such as the check after a
    // firmware update counts only its own): all of them, and those that
    // have succeeded and failed so far.
    int total = 0;
    int done = 0;
    int failed = 0;
    // While units are awaited to answer again (after a firmware update):
    // how many have not yet, and the whole seconds left; -1 otherwise.
    int not_answered = -1;
    int seconds_left = -1;
    // While units are at work: the one furthest behind, with how far it is
    // ("TLV-21001 [127.92.0.1] at 2%"); empty otherwise.
    std::string slowest{};
};

// "5 of 6 units done, 1 failed, 2 waiting" (counts of 0 left out); empty
// without units.
std::string progress_summary(const progress_state& s);
// "Waiting for 3 units to answer again, 4:12 left"; empty unless units are
// awaited.
std::string progress_wait_text(const progress_state& s);

// The modal batch progress window: main instruction = the progress text,
// the verification box "Cancel Operation", OK and Cancel both disabled
// while the batch runs.
struct progress_request {
    std::string title;
    std::string main_instruction;
    std::string verification_text;
    // UI thread, on every timer tick (and whenever the front end likes).
    std::function<progress_state()> poll;
    // "Cancel Operation" ticked and Cancel pressed while the batch runs:
    // every unit's session is asked to cancel; the window stays open.
    std::function<void()> cancel;
};

// One row of the configuration category choice.
struct category_row {
    bool available = false; // offered by every eligible unit
    std::uint32_t id = 0;
    std::string name;       // bytes as the unit sent them
};

struct category_request {
    std::vector<category_row> rows;
};

class dialogs {
public:
    virtual ~dialogs() = default;

    virtual task_dialog_answer task_dialog(const task_dialog_request& request) = 0;
    // The typed text as UTF-8, or nothing when cancelled. The caller turns it
    // into password bytes (password_text.h) and wipes it.
    virtual std::optional<std::string> ask_password(const password_request& request) = 0;
    // Both entries as typed, or nothing when cancelled. The core checks them
    // and asks again with `error` set; a front end that cannot ask cancels.
    virtual std::optional<new_password_entry> ask_new_password(const new_password_request&) { return std::nullopt; }
    // Chosen path, or nothing when cancelled.
    virtual std::optional<std::filesystem::path> choose_file(const file_request& request) = 0;
    virtual std::optional<std::filesystem::path> choose_folder(const folder_request& request) = 0;
    // Runs the progress window modally until the user closes it (OK once
    // finished, or Cancel after the end); window messages keep being
    // handled meanwhile. Returns the button that closed it.
    virtual int show_progress(const progress_request& request) = 0;
    // The ids of the checked available rows, walked from the last row of the
    // name-sorted list to the first; nothing when cancelled.
    virtual std::optional<std::vector<std::uint32_t>> choose_categories(const category_request& request) = 0;
};

// The requests of the two connection prompts, texts exactly as shown.
// `address` is the unit's address text, named unless the label holds it;
// `refused`: the unit has just refused the password it was given.
password_request password_prompt_request(const std::string& label, const std::string& address = {},
                                         bool refused = false);
task_dialog_request security_prompt_request(const std::string& label, std::uint32_t problems,
                                            const std::string& address = {});
// The security prompt's lines for the problem bits, in its order
// ("Connection is unencrypted", ...), without bullets.
std::vector<std::string> security_problem_lines(std::uint32_t problems);
// The unit as a prompt names it: its label, with the address after it
// unless the label holds it already.
std::string prompt_unit_text(const std::string& label, const std::string& address);
// 0 no, 1 yes, 2 no to all, 3 yes to all.
int security_prompt_answer(const task_dialog_answer& answer);

// A plain error report: one OK button and the error icon.
task_dialog_request error_dialog(std::string title, std::string main_instruction, std::string content);

} // namespace talvor
