// A card that another program works on at the same time: a command waits a
// little for it and then says the card is in use, never that it is damaged;
// commands started together on one image each land whole or are refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "card/checker.h"
#include "cli/cli.h"
#include "support/fault_rig.h"
#include "support/child_process.h"
#include "support/manager_fixture.h"
#include "run_cli.h"

extern char** environ;

namespace travosk {
namespace {

using namespace std::chrono_literals;
using support::ManagerRig;
using support::ReadFileBytes;

constexpr const char* kInUse = "the card is in use by another program";

// An image file held the way another program holds it: an exclusive lock on
// its own open of the file.
class HeldByAnother {
 public:
  explicit HeldByAnother(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY)) {
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldByAnother() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// travosk-cli as a child process with its stderr in a file; killed and
// reaped however the test ends.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::string& err_file) {
    const std::string program = std::string(std::getenv("TRAVOSK_BIN")) + "/travosk-cli";
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CliProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // The exit code, or -1 when the program has not ended within `limit`.
  int Wait(std::chrono::milliseconds limit) { return support::WaitForExit(pid_, limit); }

 private:
  pid_t pid_ = -1;
};

using testing::Result;

// Destructive commands confirmed, as a script runs them.
Result RunCli(std::vector<std::string> args, const std::string& workdir) {
  args.push_back("--yes");
  return testing::RunCli(std::move(args), workdir);
}

TEST(SharedCard, ABusyImageIsInUseForReadsAndWritesAndNothingChanges) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", std::string(3000, 'a')}}));
  const std::string archive = rig.WriteArchive("new.psu", "BASLUS-20002", {{"D", "new"}});
  const std::string workdir = rig.dir.File("cli-home");
  ::setenv("TRAVOSK_LOCK_WAIT_MS", "100", 1);
  const auto before = ReadFileBytes(rig.image_path());
  {
    HeldByAnother other(rig.image_path());
    ASSERT_TRUE(other.held());
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"ls", "--image", rig.image_path()},
             {"check", "--image", rig.image_path()},
             {"restore", "--image", rig.image_path(), archive},
             {"delete", "--image", rig.image_path(), "BASLUS-20001"}}) {
      const auto r = RunCli(args, workdir);
      EXPECT_EQ(r.code, 1) << args[0] << ": " << r.err;
      EXPECT_NE(r.err.find(kInUse), std::string::npos) << args[0] << ": " << r.err;
      EXPECT_EQ(r.err.find("file system"), std::string::npos) << args[0] << ": " << r.err;
    }
  }
  EXPECT_TRUE(ReadFileBytes(rig.image_path()) == before) << "the held card changed";
  // Once the other program lets go, the same command works.
  const auto r = RunCli({"restore", "--image", rig.image_path(), archive}, workdir);
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST(SharedCard, ThreeRestoresStartedTogetherEachLandWholeOrAreRefused) {
  if (!std::getenv("TRAVOSK_BIN")) GTEST_SKIP() << "TRAVOSK_BIN is not set (run through CTest)";
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20000", {{"KEEP", std::string(5000, 'k')}}));
  const auto before = support::PS2Saves(rig);
  ASSERT_TRUE(before);
  // Saves large enough that their writes overlap when nothing orders them.
  std::vector<std::string> archives;
  for (int i = 1; i <= 3; ++i)
    archives.push_back(rig.WriteArchive("s" + std::to_string(i) + ".psu",
                                        "BASLUS-2000" + std::to_string(i),
                                        {{"DATA", std::string(150000 + i * 1000, char('0' + i))}}));
  ::setenv("TRAVOSK_LOCK_WAIT_MS", "30000", 1);
  std::vector<std::unique_ptr<CliProcess>> programs;
  for (int i = 0; i < 3; ++i)
    programs.push_back(std::make_unique<CliProcess>(
        std::vector<std::string>{"restore", "--image", rig.image_path(), archives[i],
                                 "--workdir=" + rig.dir.File("home" + std::to_string(i))},
        rig.dir.File("err" + std::to_string(i))));
  std::vector<int> codes;
  for (auto& p : programs) codes.push_back(p->Wait(60s));

  // A fresh mount of the card: each save is there with its bytes, or its
  // program said the card was in use; the save that was there is unchanged.
  const auto after = support::PS2Saves(rig);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->at("BASLUS-20000"), before->at("BASLUS-20000"));
  ManagerRig alone;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "BASLUS-2000" + std::to_string(i + 1);
    const std::string err = ReadFileBytes(rig.dir.File("err" + std::to_string(i)));
    if (codes[i] == 0) {
      ASSERT_TRUE(after->count(name)) << name << " reported restored but is missing";
      ASSERT_TRUE(alone.mgr.Catalog());
      card::TfileIP root = card::RootDirectory();
      ASSERT_TRUE(alone.mgr.AppendSaveArchive(archives[i], root));
      EXPECT_EQ(after->at(name), support::PS2Saves(alone)->at(name)) << name;
    } else {
      EXPECT_EQ(codes[i], 1) << name << ": " << err;
      EXPECT_NE(err.find(kInUse), std::string::npos) << name << ": " << err;
      EXPECT_EQ(after->count(name), 0u) << name;
    }
  }
  ASSERT_TRUE(rig.mgr.Volume().Mount());
  const auto report = card::CheckFileSystem(rig.mgr.Volume());
  EXPECT_TRUE(report.Healthy()) << report.findings.size() << " problems, first: "
                                << (report.findings.empty() ? "" : report.findings[0].what);
}

}  // namespace
}  // namespace travosk
