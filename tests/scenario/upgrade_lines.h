#pragma once
// The upgrade dialog's log as an installer reads it, written out here independently of the steps
// that write it: the shell operations with their texts, the opening and the return wait.
#include <string>
#include <vector>

namespace testing_support {

using Lines = std::vector<std::string>;

struct ShellStep {
  const char* command;
  const char* wait;
  const char* failure;
};

// Operations 1 to 7, in plan order (index 0 is operation 1). 1 to 5 say "Please wait..." and fail
// with an "ERROR: " line; 6 and 7 say "Please Wait..." and fail with a bare line.
inline const ShellStep kShellSteps[7] = {
    {"umount /MIRU/BSP", "Please wait...", "ERROR: Operation [umount /MIRU/BSP] failed"},
    {"mkdir /MIRU/BSP", "Please wait...", "ERROR: Operation [mkdir /MIRU/BSP] failed"},
    {"mount /dev/mmcblk0p4 /MIRU/BSP", "Please wait...", "ERROR: Operation [mount /dev/mmcblk0p4 /MIRU/BSP] failed"},
    {"rm -Rf /MIRU/BSP/UPGRADE", "Please wait...", "ERROR: Operation [rm -Rf /MIRU/BSP/UPGRADE] failed"},
    {"mkdir /MIRU/BSP/UPGRADE", "Please wait...", "ERROR: Operation [mkdir /MIRU/BSP/UPGRADE] failed"},
    {"chmod -R 755 /MIRU/BSP", "Please Wait...", "Operation [chmod -R 755 /MIRU/BSP] failed"},
    {"sh /MIRU/BSP/UPGRADE/upgrade.sh &", "Please Wait...", "Operation [sh /MIRU/BSP/UPGRADE/upgrade.sh &] failed"},
};

inline constexpr char kRunFailed[] = "ERROR: Upgrade FAILED, GATEWAY did not startup";
inline constexpr char kRunCompleted[] = "BSP Upgrade completed";
inline constexpr char kReturnInitiated[] = "Upgrade initiated on local device ...";
inline constexpr char kReturnWaiting[] = "WAITING FOR UPGRADE TO COMPLETE ... DO NOT POWER DOWN YOUR DEVICE !!!";
inline constexpr char kReturnSeen[] = "GATEWAY startup SUCCESS";

inline void Append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

inline Lines Opening(const std::string& systemType) {
  return {"Starting Update Procedure", "System Type: " + systemType};
}

// Operations first..last (1 to 7) answered.
inline Lines ShellsAnswered(int first, int last) {
  Lines lines;
  for (int operation = first; operation <= last; ++operation) {
    const ShellStep& step = kShellSteps[operation - 1];
    std::string command = step.command;
    lines.push_back("Executing [" + command + "] ...");
    lines.push_back(std::string(step.wait) + " OK Operation [" + command + "] success");
  }
  return lines;
}

// A payload file found changed and sent whole.
inline Lines FileSent(const std::string& name) {
  return {"Checking File: BSP/UPGRADE\\" + name + "  Changes Detected ", "Transfer File: BSP/UPGRADE\\" + name + " OK"};
}

// A payload file found unchanged on the controller and skipped.
inline std::string FileSkipped(const std::string& name) { return "Checking File: BSP/UPGRADE\\" + name + "  CheckSum OK"; }

// The payload files in the order the upgrade takes them, each sent whole unless it is `unchanged`.
inline Lines FilesInOrder(const std::vector<std::string>& order, const std::string& unchanged) {
  Lines lines;
  for (const std::string& name : order) {
    if (name == unchanged) {
      lines.push_back(FileSkipped(name));
    } else {
      Append(lines, FileSent(name));
    }
  }
  return lines;
}

// Operation 8 seeing the controller back, and the run's end.
inline Lines ReturnSeenAndCompleted() { return {kReturnInitiated, kReturnWaiting, kReturnSeen, kRunCompleted}; }

}  // namespace testing_support
