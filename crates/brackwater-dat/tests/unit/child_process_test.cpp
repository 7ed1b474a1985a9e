#include "resolve_sound_parity/child_process.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "resolve_sound_parity/tool_location.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::parity;

// SIGPIPE at its default action, as in the check program, for one test.
class DefaultSigpipe {
 public:
  DefaultSigpipe() : previous_(::signal(SIGPIPE, SIG_DFL)) {}
  ~DefaultSigpipe() { ::signal(SIGPIPE, previous_); }

 private:
  sighandler_t previous_;
};

TEST(ChildProcess, WritingToAClosedPipeIsAnErrorNotASignal) {
  const DefaultSigpipe sigpipe;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  const auto wrote = write_all(fds[1], std::string(100000, 'x'));
  ::close(fds[1]);
  ASSERT_FALSE(wrote.has_value());
  EXPECT_EQ(display_text(wrote.error()), "Broken pipe (os error 32)");
  EXPECT_EQ("write stdin: " + display_text(wrote.error()),
            "write stdin: Broken pipe (os error 32)");
}

TEST(ChildProcess, MissingProgramFailsToSpawn) {
  const auto run = run_child({"/no/such/dotnet", "tool.dll", "--stdin"}, "x\n");
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), "spawn LS.Terminal: No such file or directory (os error 2)");
}

TEST(ChildProcess, DrainsBothStreamsAndReportsTheStatus) {
  const auto run = run_child(
      {"/bin/sh", "-c", "head -c 3000000 /dev/zero; head -c 3000000 /dev/zero >&2; cat; exit 3"},
      "input\n");
  ASSERT_TRUE(run.has_value()) << run.error();
  EXPECT_EQ(run->out.size(), 3000006u);
  EXPECT_TRUE(run->out.ends_with("input\n"));
  EXPECT_EQ(run->err.size(), 3000000u);
  EXPECT_EQ(debug_exit_status(run->wait_status), "ExitStatus(unix_wait_status(768))");
}

TEST(ChildProcess, ChildThatClosesItsInputFailsTheWrite) {
  const DefaultSigpipe sigpipe;
  // More than any pipe holds, to a child that closes its input at once.
  const auto run = run_child({"/bin/sh", "-c", "exec 0<&-; sleep 1"}, std::string(4 << 20, 'r'));
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), "write stdin: Broken pipe (os error 32)");
}

TEST(ToolLocation, JoinPath) {
  EXPECT_EQ(join_path("", "dotnet"), "dotnet");
  EXPECT_EQ(join_path("/opt/dotnet/", "dotnet"), "/opt/dotnet/dotnet");
  EXPECT_EQ(join_path("/opt/dotnet", "dotnet"), "/opt/dotnet/dotnet");
  EXPECT_EQ(join_path("rel", "dotnet"), "rel/dotnet");
}

// Sets or unsets variables for one test, restoring them afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> changes) {
    for (auto [name, value] : changes) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : saved_) {
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ToolLocation, HostCandidatesInOrder) {
  const ScopedEnv env{{"DOTNET_ROOT", "/root/dn"}, {"HOME", "/h"}, {"PATH", ":/a::/b/:"}};
  EXPECT_EQ(host_candidates(),
            (std::vector<std::string>{"/root/dn/dotnet", "/h/.dotnet/dotnet", "dotnet", "/a/dotnet",
                                      "dotnet", "/b/dotnet", "dotnet"}));
}

TEST(ToolLocation, HostCandidatesWithoutVariables) {
  const ScopedEnv env{{"DOTNET_ROOT", nullptr}, {"HOME", nullptr}, {"PATH", nullptr}};
  EXPECT_EQ(host_candidates(), (std::vector<std::string>{"/home/kestrelbox/.dotnet/dotnet"}));
}

TEST(ToolLocation, InvalidUtf8CountsAsUnset) {
  const ScopedEnv env{{"DOTNET_ROOT", "\xff"}, {"HOME", ""}, {"PATH", "\xc3"}};
  EXPECT_EQ(host_candidates(), (std::vector<std::string>{".dotnet/dotnet"}));
}

TEST(ToolLocation, ToolCandidatesInOrder) {
  const ScopedEnv env{{"LS_TERMINAL_DLL", ""}};
  const auto candidates = tool_candidates();
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[0], "");
  EXPECT_EQ(candidates[1],
            "/home/kestrelbox/Landsmith-ORCA-Edition/Landsmith.Terminal/bin/Release/net8.0/"
            "Landsmith.Terminal.dll");
  EXPECT_EQ(candidates[2],
            "/home/kestrelbox/Landsmith-ORCA-Edition/Landsmith.Terminal/bin/Debug/net8.0/"
            "Landsmith.Terminal.dll");
}

}  // namespace
