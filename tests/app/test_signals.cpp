// The programs end cleanly on the signals a desktop and a terminal send: the window program
// on SIGTERM, SIGINT and SIGHUP with status 0, orivelR-cli's --play on SIGINT and SIGTERM with
// status 130. Each is started as a program and signalled once its handlers are in place.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "TestAudio.h"
#include "bass.h"

namespace {

// Whether process `pid` catches `signal` (its SigCgt mask in /proc).
bool catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  return false;
}

struct Ending {
  const char* name;
  std::vector<std::string> command;  // "SONG" is replaced by a 30-second song
  int signal;
  int status;
};

class Signals : public ::testing::TestWithParam<Ending> {};

TEST_P(Signals, EndTheProgramCleanly) {
  const Ending& e = GetParam();
  testaudio::TempDir dir;
  const auto song = dir / "song.wav";
  testaudio::writeWav(song, testaudio::makeAudio(44100, 2, 44100 * 30, [](int64_t f, int) {
                        return testaudio::sine(440, 0.1, f, 44100);
                      }));
  std::vector<std::string> args = e.command;
  for (auto& a : args)
    if (a == "SONG") a = song.string();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("ORIVELR_HOME", dir.path().c_str(), 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // Until the program's own handler is in place, the signal would end it the default way.
  ASSERT_TRUE(testaudio::waitFor([&] { return catches(pid, e.signal); }, 30))
      << "the program never handled the signal";
  ASSERT_EQ(kill(pid, e.signal), 0);
  int status = 0;
  if (!testaudio::waitFor([&] { return waitpid(pid, &status, WNOHANG) != 0; }, 30)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the program kept running after the signal";
  }
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), e.status);
}

// The engine's devices (SDL's drivers above all) must not take the signals for themselves.
TEST(SignalsOfTheEngine, AreLeftToTheProgram) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  const bool term = catches(getpid(), SIGTERM), interrupt = catches(getpid(), SIGINT);
  BASS_Free();
  EXPECT_FALSE(term);
  EXPECT_FALSE(interrupt);
}

const std::string kWindow = ORIVELR_APP;
const std::string kCli = ORIVELR_CLI;

INSTANTIATE_TEST_SUITE_P(
    Programs, Signals,
    ::testing::Values(Ending{"WindowOnTerm", {kWindow}, SIGTERM, 0},
                      Ending{"WindowOnInt", {kWindow}, SIGINT, 0},
                      Ending{"WindowOnHangUp", {kWindow}, SIGHUP, 0},
                      Ending{"PlayOnInt", {kCli, "render", "SONG", "--play"}, SIGINT, 130},
                      Ending{"PlayOnTerm", {kCli, "render", "SONG", "--play"}, SIGTERM, 130}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
