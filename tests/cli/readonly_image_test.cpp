// travosk-cli on a card image the user may only read: the commands that only
// read work on it, and leave it as it was, also when it holds an interrupted
// rewrite that a mount completes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "card/backupblocks.h"
#include "cli/cli.h"
#include "common/bytes.h"
#include "support/fault_rig.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

using support::ManagerRig;
using support::ReadFileBytes;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs the command line in a child process that cannot write the image: as
// root (who may write any file) the child takes the identity of "nobody".
// The child's answer comes back through a pipe; the wait is bounded.
Result RunUnprivileged(const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    std::istringstream in;
    std::ostringstream out, err;
    cli::Terminal terminal;
    const int code = cli::Run(args, in, out, err, terminal);
    const std::string text = std::to_string(code) + '\n' + out.str() + '\0' + err.str();
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(pipe_fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    char buffer[4096];
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  ::waitpid(pid, nullptr, 0);
  Result r;
  const size_t line = text.find('\n');
  const size_t split = text.find('\0');
  if (line == std::string::npos || split == std::string::npos) return r;
  r.code = std::stoi(text.substr(0, line));
  r.out = text.substr(line + 1, split - line - 1);
  r.err = text.substr(split + 1);
  return r;
}

// Leaves the rig's card with a rewrite of erase block `block` interrupted
// after the block was erased: its copy and both marker pages are whole, so a
// mount completes it, and until then the block reads as erased.
void InterruptRewriteAfterErase(ManagerRig& rig, uint32_t block) {
  auto& access = rig.mgr.Access();
  ASSERT_TRUE(access.OpenCard());
  const auto superblock = rig.medium().bytes().first(512);
  const auto backup = card::BackupBlocksOf(superblock, access);
  ASSERT_TRUE(backup.valid);
  const size_t block_bytes = access.PagesPerBlock() * card::kPageBytes;
  const auto first = rig.medium().bytes().subspan(block * block_bytes, block_bytes);
  const std::vector<uint8_t> contents(first.begin(), first.end());
  const auto before = rig.Snapshot();
  for (uint64_t k = 0; k < 64; ++k) {
    support::RestoreImage(rig, before);
    support::Reconnect(rig);
    ASSERT_TRUE(access.OpenCard());
    rig.adapter().UnplugAfter(k);
    (void)card::RewriteThroughBackup(access, backup, block * access.PagesPerBlock(),
                                     contents.data());
    support::Reconnect(rig);
    if (std::all_of(first.begin(), first.end(), [](uint8_t b) { return b == 0xFF; })) return;
  }
  FAIL() << "no interruption left the block erased";
}

TEST(ReadOnlyImage, CommandsThatOnlyReadWorkAndLeaveItAsItWas) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20001", {{"DATA", std::string(1500, 'z')}}));
  ASSERT_TRUE(rig.AddSave("BASLUS-20002", {{"GAME", "game"}}));
  // The root directory's block, rewritten and cut short: only the recovery
  // brings the saves' entries back.
  const auto sb = rig.medium().bytes();
  const uint32_t root_page = 2 * (load_le32(sb, 0x34) + load_le32(sb, 0x3C));
  InterruptRewriteAfterErase(rig, root_page / 16);
  const std::string image = rig.image_path();
  const std::string stored = ReadFileBytes(image);

  // The child (maybe "nobody") reaches the image and a working folder of its own.
  const std::string work = rig.dir.File("home");
  ASSERT_EQ(::mkdir(work.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(work.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(rig.dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(image.c_str(), 0444), 0);
  const std::string backup = work + "/first.psu";
  const std::vector<std::vector<std::string>> commands = {
      {"ls"}, {"check"}, {"backup", "BASLUS-20001", backup}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    std::vector<std::string> args = {"--image", image, "--workdir", work + "/" + command[0]};
    args.insert(args.end(), command.begin(), command.end());
    const Result r = RunUnprivileged(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("Permission denied"), std::string::npos) << r.err;
    // Said once for every command, since the image keeps the interruption.
    EXPECT_NE(r.err.find("in memory for this command"), std::string::npos) << r.err;
    if (command[0] == "ls") {
      EXPECT_NE(r.out.find("BASLUS-20001"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("BASLUS-20002"), std::string::npos) << r.out;
    }
    EXPECT_TRUE(ReadFileBytes(image) == stored) << "the image changed";
  }
  EXPECT_NE(ReadFileBytes(backup).find(std::string(1500, 'z')), std::string::npos);
}

}  // namespace
}  // namespace travosk
