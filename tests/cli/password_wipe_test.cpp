// Every heap block freed while a password is handled is checked for it:
// buffers that were outgrown or dropped must have been wiped first.
#include "cli/options.h"
#include "cli/terminal.h"
#include "cli/terminal_dialogs.h"
#include "inventory/password_text.h"
#include "protocol/key_derivation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <new>
#include <unistd.h>

namespace {

// Long enough to leave the strings' inline buffers and make them grow.
constexpr char secret[] = "Zq7#pW!x-the-fleet-administrator-password-that-is-long-enough-to-grow-twice-over";
constexpr std::size_t probe = 12; // a freed block holding this much of it counts

std::atomic<bool> armed{false};
std::atomic<int> leaks{0};

void check_block(void* p)
{
    if (!p || !armed.load(std::memory_order_relaxed))
        return;
    const std::size_t n = malloc_usable_size(p);
    if (n >= probe && memmem(p, n, secret, probe))
        leaks.fetch_add(1);
}

// Counts the freed blocks that still hold the password while `fn` runs.
int leaked_copies(const std::function<void()>& fn)
{
    leaks = 0;
    armed = true;
    fn();
    armed = false;
    return leaks.load();
}

} // namespace

void* operator new(std::size_t n)
{
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    check_block(p);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    check_block(p);
    std::free(p);
}

using namespace talvor;
using namespace talvor::cli;

TEST(PasswordWipe, NoFreedBufferKeepsThePassword)
{
    const auto file = std::filesystem::temp_directory_path() / ("talvorctl_wipe_" + std::to_string(::getpid()));
    {
        std::ofstream(file, std::ios::binary) << secret << "\n";
    }
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], secret, sizeof secret - 1), static_cast<ssize_t>(sizeof secret - 1));
    ASSERT_EQ(::write(fds[1], "\n", 1), 1);
    ::close(fds[1]);

    const std::string latin1 = std::string(secret) + "\xE9"; // not UTF-8: converted
    const struct {
        const char* what;
        std::function<void()> run;
    } cases[] = {
        {"key derivation", [] { derive_f(secret, "a-salt-that-makes-the-key-grow"); }},
        {"terminal line", [&] {
             auto line = read_line(fds[0]);
             ASSERT_TRUE(line);
             EXPECT_EQ(*line, secret);
             wipe(*line);
         }},
        {"password file", [&] {
             std::string text;
             ASSERT_EQ(read_password_file(file.string(), text), 0);
             EXPECT_EQ(text, secret);
             wipe(text);
         }},
        {"file password text", [&] {
             std::string text = file_password_text(latin1);
             wipe(text);
         }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(leaked_copies(c.run), 0) << c.what;
    ::close(fds[0]);
    std::filesystem::remove(file);
}
