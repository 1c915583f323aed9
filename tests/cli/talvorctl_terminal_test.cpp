// talvorctl at a terminal: the password prompt, the progress line, Ctrl-C.
#include "pty_child.h"
#include "talvorctl_fixture.h"

using namespace talvorctl_test;

namespace {

class TalvorctlTerminal : public TalvorctlRun {
protected:
    std::unique_ptr<pty_child> run_on_terminal(const std::vector<std::string>& args)
    {
        return std::make_unique<pty_child>(TALVORCTL_PATH, args, dir_.string(),
                                           std::vector<std::string>{"XDG_CONFIG_HOME=" + (dir_ / "config").string(),
                                                                    "XDG_STATE_HOME=" + (dir_ / "state").string()},
                                           (dir_ / "out.txt").string());
    }
};

} // namespace

TEST_F(TalvorctlTerminal, PromptStartsOnACleanLineAndTheProgressComesBack)
{
    start(http_unit("p", "127.8.5.1", "00:1a:7e:08:05:01"));
    auto t = run_on_terminal({"--tls-checks", "none", "show", "127.8.5.1"});
    const std::size_t prompt = t->wait_for("Password For");
    ASSERT_NE(prompt, std::string::npos) << t->seen();
    // The progress line was drawn and then cleared for the question.
    const std::string before = t->seen().substr(0, prompt);
    EXPECT_NE(before.find("refreshing units: 0 of 1 done"), std::string::npos) << before;
    EXPECT_TRUE(before.ends_with("\r\033[K")) << before;
    t->type("fleet-pw\n");
    // After the answer, the line is drawn again on a line of its own.
    EXPECT_NE(t->wait_for(": \r\n\r\033[Krefreshing units: 0 of 1 done", prompt), std::string::npos) << t->seen();
    EXPECT_EQ(t->wait_exit(), 0) << t->seen();
    EXPECT_NE(slurp(dir_ / "out.txt").find("SER-p"), std::string::npos);
}

TEST_F(TalvorctlTerminal, ARefusedPasswordIsSaidAndTheUnitAskedForAgain)
{
    start(http_unit("r", "127.8.8.1", "00:1a:7e:08:08:01"));
    auto t = run_on_terminal({"--tls-checks", "none", "show", "127.8.8.1"});
    const std::size_t first = t->wait_for("Password For \"127.8.8.1\": ");
    ASSERT_NE(first, std::string::npos) << t->seen();
    t->type("wrong\n");
    const std::size_t refusal = t->wait_for("The unit refused this password.\r\n", first);
    ASSERT_NE(refusal, std::string::npos) << t->seen();
    ASSERT_NE(t->wait_for("Password For \"127.8.8.1\": ", refusal), std::string::npos) << t->seen();
    t->type("fleet-pw\n");
    EXPECT_EQ(t->wait_exit(), 0) << t->seen();
}

TEST_F(TalvorctlTerminal, CtrlCAtThePasswordPromptEndsInOrderWithEchoBack)
{
    start(http_unit("c", "127.8.6.1", "00:1a:7e:08:06:01"));
    auto t = run_on_terminal({"--tls-checks", "none", "show", "127.8.6.1"});
    ASSERT_NE(t->wait_for("Password For"), std::string::npos) << t->seen();
    EXPECT_FALSE(t->echo_on());
    t->type("\x03");
    EXPECT_EQ(t->wait_exit(), 130) << t->seen();
    EXPECT_TRUE(t->echo_on());
    // The run still reports the unit it was working on.
    EXPECT_NE(slurp(dir_ / "out.txt").find("127.8.6.1"), std::string::npos) << slurp(dir_ / "out.txt");
}
