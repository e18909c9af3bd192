#pragma once
// The controller's disk: a folder on the host that stands for the controller's root, and the few
// shell command lines an upgrade sends, carried out on it (no real shell ever runs).
//
// Layout below the root folder:
//   <root>/MIRU/...       the controller's /MIRU/...; /MIRU/BSP is the mount point
//   <root>/mmcblk0p4/...  the BSP partition /dev/mmcblk0p4
// While the partition is mounted on /MIRU/BSP, /MIRU/BSP/X is <root>/mmcblk0p4/X; otherwise any
// /X is <root>/X. The controller boots with the partition mounted, as its startup leaves it.
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// What one shell line did: the text the controller logs, and whether it started the upgrade
// script (which takes the controller off the air once its answer is out).
struct ShellResult {
  std::string text;
  bool upgradeStarted = false;
};

class Sandbox {
 public:
  explicit Sandbox(std::string root);

  // Creates the mount point and the partition folder; 1 on success.
  int Prepare();

  ShellResult RunShellLine(const std::string& line);

  // Host path of a file as a client names it: "folder\name" (either separator, leading ones
  // ignored) relative to /MIRU, so "BSP/UPGRADE\x" is /MIRU/BSP/UPGRADE/x. Empty when the name
  // would leave the sandbox ("..", a drive) or names no file.
  std::string RemoteFilePath(const std::string& remote) const;

  bool BspMounted() const { return mounted; }
  const std::string& Root() const { return root; }

 private:
  // Host path of an absolute controller path; empty when it is not absolute or uses "..".
  std::string HostPath(const std::string& controllerPath) const;
  std::string HostPath(const std::vector<std::string>& components) const;

  ShellResult Unmount(const std::vector<std::string>& words);
  ShellResult MakeDirectory(const std::vector<std::string>& words);
  ShellResult Mount(const std::vector<std::string>& words);
  ShellResult RemoveTree(const std::vector<std::string>& words);
  ShellResult ChangeMode(const std::vector<std::string>& words);
  ShellResult RunScript(const std::vector<std::string>& words);

  std::string root;
  bool mounted = true;
};

// Size and byte sum of a stored file: every byte added as 0..255 into a wrapping 32-bit sum.
// Returns 0 when the file cannot be read.
int FileSizeAndSum(const std::string& path, int64_t* size, uint32_t* sum);

}  // namespace sim
