#include "tests/support/namespace_lan.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace testing_support {

namespace {

const std::string kLanScript = std::string(BSPLIFT_SOURCE_DIR) + "/scripts/lan";

}  // namespace

std::string BringUpLan(const std::string& prefix, int hosts) {
  std::string reason;
  if (geteuid() != 0) {
    reason = "SKIPPED: end-to-end tests on the namespace LAN need root to make network namespaces";
  } else if (std::system((kLanScript + " up " + prefix + " " + std::to_string(hosts) + " >/dev/null 2>&1").c_str()) !=
             0) {
    reason = "SKIPPED: scripts/lan could not make the network namespaces";
  }
  if (!reason.empty()) std::fprintf(stderr, "\n*** %s ***\n\n", reason.c_str());
  return reason;
}

void TakeDownLan(const std::string& prefix) {
  if (std::system((kLanScript + " down " + prefix).c_str()) != 0) {
    std::fprintf(stderr, "scripts/lan down %s failed\n", prefix.c_str());
  }
}

std::string OnLanHost(const std::string& prefix, int host, const std::string& command) {
  return "ip netns exec " + prefix + "-" + std::to_string(host) + " " + command;
}

pid_t SpawnOnLanHost(const std::string& prefix, int host, const std::vector<std::string>& command,
                     const std::string& out, const std::string& err) {
  std::vector<std::string> args = {"ip", "netns", "exec", prefix + "-" + std::to_string(host)};
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (err == out) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = -1;
  int spawned = posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

std::string ShellOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

}  // namespace testing_support
