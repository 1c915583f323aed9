#pragma once
// What talvorctl asks a person on the terminal.
#include <optional>
#include <string>

namespace talvor::cli {

bool stdin_is_terminal();
bool stderr_is_terminal();
// Prompts on the terminal and reads one line without echo; nullopt at end
// of input, when interrupted or when no terminal can be opened. The echo
// comes back however the read ends.
std::optional<std::string> read_secret(const std::string& prompt);
// Prompts and reads one echoed line from the terminal; nullopt at end of
// input or when interrupted.
std::optional<std::string> read_answer(const std::string& prompt);
// One line from `fd` without its LF (or CR LF); nullopt at end of input or
// when interrupted. Buffers it outgrows are wiped before they are freed.
std::optional<std::string> read_line(int fd);
// Any thread: the read under way and every later one end with nullopt
// (Ctrl-C while a question waits).
void interrupt_terminal_reads();

// The progress line on standard error. Questions clear it first and draw
// it again after the answer, so a prompt never runs into it.
class progress_line {
public:
    explicit progress_line(bool enabled) : enabled_(enabled) {}
    bool enabled() const { return enabled_; }
    // Replaces the line's text.
    void draw(const std::string& text);
    // Ends the line with a newline; later draws start a new one.
    void finish();
    void clear();
    void redraw();

private:
    bool enabled_;
    bool shown_ = false;
    std::string text_;
};

// Clears the line (when there is one) for the life of a question.
class question_scope {
public:
    explicit question_scope(progress_line* line) : line_(line)
    {
        if (line_)
            line_->clear();
    }
    ~question_scope()
    {
        if (line_)
            line_->redraw();
    }
    question_scope(const question_scope&) = delete;
    question_scope& operator=(const question_scope&) = delete;

private:
    progress_line* line_;
};

} // namespace talvor::cli
