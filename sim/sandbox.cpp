#include "sim/sandbox.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace sim {
namespace {

namespace fs = std::filesystem;

const std::string kMountPoint = "/MIRU/BSP";
const std::string kPartitionDevice = "/dev/mmcblk0p4";
const std::string kPartitionFolder = "mmcblk0p4";
const std::string kRemoteBase = "/MIRU/";

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Components of a path split at "/" and "\"; "." and empty ones dropped. 0 when a component is
// "..", so that no name climbs out of the sandbox, or holds a zero byte: the system would end the
// path there, so "/\0x" would name the sandbox's own root.
int Components(const std::string& path, std::vector<std::string>* out) {
  out->clear();
  std::string part;
  auto flush = [&] {
    if (part == "..") return false;
    if (!part.empty() && part != ".") out->push_back(part);
    part.clear();
    return true;
  };
  for (char c : path) {
    if (c == '\0') return 0;
    if (c == '/' || c == '\\') {
      if (!flush()) return 0;
    } else {
      part += c;
    }
  }
  return flush() ? 1 : 0;
}

bool IsMountPoint(const std::vector<std::string>& components) {
  return components.size() == 2 && components[0] == "MIRU" && components[1] == "BSP";
}

bool BelowMountPoint(const std::vector<std::string>& components) {
  return components.size() >= 2 && components[0] == "MIRU" && components[1] == "BSP";
}

}  // namespace

Sandbox::Sandbox(std::string root) : root(std::move(root)) {}

int Sandbox::Prepare() {
  std::error_code error;
  fs::create_directories(fs::path(root) / "MIRU" / "BSP", error);
  if (error) return 0;
  fs::create_directories(fs::path(root) / kPartitionFolder, error);
  return error ? 0 : 1;
}

std::string Sandbox::HostPath(const std::vector<std::string>& components) const {
  fs::path path(root);
  size_t first = 0;
  if (mounted && BelowMountPoint(components)) {
    path /= kPartitionFolder;
    first = 2;
  }
  for (size_t i = first; i < components.size(); ++i) path /= components[i];
  return path.string();
}

std::string Sandbox::HostPath(const std::string& controllerPath) const {
  std::vector<std::string> components;
  if (controllerPath.empty() || controllerPath[0] != '/' || !Components(controllerPath, &components)) return "";
  return HostPath(components);
}

std::string Sandbox::RemoteFilePath(const std::string& remote) const {
  std::vector<std::string> components;
  if (!Components(remote, &components) || components.empty()) return "";
  if (components[0].find(':') != std::string::npos) return "";  // a drive: "C:\..."
  char last = remote.back();
  if (last == '/' || last == '\\') return "";
  components.insert(components.begin(), {"MIRU"});
  return HostPath(components);
}

ShellResult Sandbox::RunShellLine(const std::string& line) {
  std::vector<std::string> words = Words(line);
  if (words.empty()) return {"empty command line"};
  const std::string& command = words[0];
  if (command == "umount") return Unmount(words);
  if (command == "mkdir") return MakeDirectory(words);
  if (command == "mount") return Mount(words);
  if (command == "rm") return RemoveTree(words);
  if (command == "chmod") return ChangeMode(words);
  if (command == "sh") return RunScript(words);
  return {"unknown command, nothing done"};
}

ShellResult Sandbox::Unmount(const std::vector<std::string>& words) {
  std::vector<std::string> target;
  if (words.size() != 2 || !Components(words[1], &target)) return {"usage: umount DIR"};
  if (!IsMountPoint(target) || !mounted) return {"not mounted"};
  mounted = false;
  return {"unmounted"};
}

ShellResult Sandbox::MakeDirectory(const std::vector<std::string>& words) {
  std::string path = words.size() == 2 ? HostPath(words[1]) : "";
  if (path.empty()) return {"usage: mkdir /DIR"};
  std::error_code error;
  if (fs::exists(path, error)) return {"cannot create directory: File exists"};
  if (!fs::is_directory(fs::path(path).parent_path(), error)) return {"cannot create directory: No such file or directory"};
  if (!fs::create_directory(path, error)) return {"cannot create directory: " + error.message()};
  return {"created"};
}

ShellResult Sandbox::Mount(const std::vector<std::string>& words) {
  std::vector<std::string> target;
  if (words.size() != 3 || !Components(words[2], &target)) return {"usage: mount DEVICE DIR"};
  if (words[1] != kPartitionDevice) return {"special device " + words[1] + " does not exist"};
  if (!IsMountPoint(target)) return {"only " + kMountPoint + " is a mount point here"};
  if (mounted) return {kPartitionDevice + " already mounted"};
  std::error_code error;
  if (!fs::is_directory(HostPath(words[2]), error)) return {"mount point " + kMountPoint + " does not exist"};
  mounted = true;
  return {"mounted"};
}

ShellResult Sandbox::RemoveTree(const std::vector<std::string>& words) {
  std::vector<std::string> target;
  if (words.size() != 3 || words[1] != "-Rf" || words[2].empty() || words[2][0] != '/' ||
      !Components(words[2], &target)) {
    return {"usage: rm -Rf /PATH"};
  }
  if (target.empty()) return {"refusing to remove /"};
  std::error_code error;
  uintmax_t removed = 0;
  if (mounted && IsMountPoint(target)) {
    // A mount point in use stays; what the partition holds goes.
    for (const fs::directory_entry& entry : fs::directory_iterator(HostPath(target), error)) {
      removed += fs::remove_all(entry.path(), error);
      if (error) break;
    }
  } else {
    removed = fs::remove_all(HostPath(target), error);
  }
  if (error) return {"cannot remove: " + error.message()};
  return {"removed " + std::to_string(removed) + " entries"};
}

ShellResult Sandbox::ChangeMode(const std::vector<std::string>& words) {
  if (words.size() != 4 || words[1] != "-R") return {"usage: chmod -R MODE /PATH"};
  unsigned mode = 0;
  const std::string& text = words[2];
  auto [end, parseError] = std::from_chars(text.data(), text.data() + text.size(), mode, 8);
  std::string path = HostPath(words[3]);
  if (parseError != std::errc() || end != text.data() + text.size() || mode > 07777 || path.empty()) {
    return {"usage: chmod -R MODE /PATH"};
  }
  std::error_code error;
  if (!fs::exists(path, error)) return {"cannot access " + words[3] + ": No such file or directory"};
  fs::perms perms = fs::perms(mode);
  fs::permissions(path, perms, error);
  for (auto it = fs::recursive_directory_iterator(path, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    fs::permissions(it->path(), perms, error);
  }
  return {error ? "chmod failed: " + error.message() : "mode set"};
}

ShellResult Sandbox::RunScript(const std::vector<std::string>& words) {
  // "sh SCRIPT" or "sh SCRIPT &": the model only notes that the script ran, in the background.
  bool usage = words.size() < 2 || words.size() > 3 || (words.size() == 3 && words[2] != "&");
  std::string path = usage ? "" : HostPath(words[1]);
  if (path.empty()) return {"usage: sh /SCRIPT [&]"};
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return {"sh: " + words[1] + ": No such file"};
  return {"script started", true};
}

int FileSizeAndSum(const std::string& path, int64_t* size, uint32_t* sum) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  if (!in || !fs::is_regular_file(path, error)) return 0;
  *size = 0;
  *sum = 0;
  char block[10000];
  while (in) {
    in.read(block, sizeof block);
    std::streamsize got = in.gcount();
    for (std::streamsize i = 0; i < got; ++i) *sum += uint8_t(block[i]);
    *size += got;
  }
  return in.eof() ? 1 : 0;
}

}  // namespace sim
