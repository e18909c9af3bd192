#pragma once
// The private LAN of network namespaces that end-to-end tests run on (scripts/lan), and the
// processes they start on its hosts. It needs root; a suite that cannot have it is skipped, loudly.
// Nothing on it reaches the machine's own interfaces.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// Brings up hosts PREFIX-1 .. PREFIX-hosts (a fresh bridge, no route out). "" when the LAN is up;
// otherwise the reason it is not (no root, or scripts/lan failed), already printed where ctest's
// output shows it, for the suite to skip with.
std::string BringUpLan(const std::string& prefix, int hosts);
void TakeDownLan(const std::string& prefix);

// The address of host `host` on the LAN.
inline std::string LanAddress(int host) { return "10.231.0." + std::to_string(10 + host); }

// The shell command that runs `command` on host `host`.
std::string OnLanHost(const std::string& prefix, int host, const std::string& command);

// Starts `command` on host `host` with stdin from /dev/null, stdout into the file `out` and stderr
// into `err` (one file when they are the same path). `ip netns exec` execs, so the pid returned is
// the command's own, to signal and wait for; -1 when it could not be started.
pid_t SpawnOnLanHost(const std::string& prefix, int host, const std::vector<std::string>& command,
                     const std::string& out, const std::string& err);

// What a shell command printed on stdout.
std::string ShellOutput(const std::string& command);

}  // namespace testing_support
