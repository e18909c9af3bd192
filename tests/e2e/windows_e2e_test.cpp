// The shipped `bsplift` with no command, as an installer uses it: the main dialog and the upgrade
// dialog as windows on an X display (Xvfb), driven by clicks and keys from xdotool, on the private
// LAN of network namespaces with simulated controllers on hosts 2 and 3. Where to click and what
// the windows show comes from the backend's trace (BSPLIFT_UI_TRACE); screenshots check that the
// windows stay drawn while the program's thread sleeps, and are kept as artefacts in
// build/artifacts/windows/. Needs root, Xvfb, xdotool and ImageMagick, and a build with windows;
// without them every test here is skipped with a message saying so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/scenario/upgrade_lines.h"
#include "tests/support/file_bytes.h"
#include "tests/support/namespace_lan.h"

namespace {

namespace fs = std::filesystem;

using testing_support::BringUpLan;
using testing_support::kReturnWaiting;
using testing_support::kRunCompleted;
using testing_support::OnLanHost;
using testing_support::SpawnOnLanHost;
using testing_support::TakeDownLan;

const std::string kBsplift = std::string(BSPLIFT_BINARY_DIR) + "/bsplift";
const std::string kSimulator = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-controller-sim";
const fs::path kArtifacts = fs::path(BSPLIFT_BINARY_DIR) / "artifacts" / "windows";

constexpr useconds_t kPollUs = 20000;
constexpr int kTracePolls = 1500;  // 30 s
constexpr int kProcessEndPolls = 500;

constexpr int kBspliftHost = 1;
constexpr int kScreenHeight = 768;
constexpr int kMainDialog = 136;
constexpr int kUpgradeDialog = 137;
constexpr int kDeviceList = 1001;
constexpr int kFilterList = 1034;
constexpr int kStart = 1;
constexpr int kCancelOrOk = 2;
constexpr int kTotalBar = 1007;
constexpr int kItemBar = 1008;
constexpr int kLogList = 1009;

struct Controller {
  int host;
  const char* mac;
  const char* name;
  int type;
  int subtype;
  int port;
};
const Controller kR5{2, "0050C2000300", "ROOF", 9, 16, 7002};
const Controller kPd10{3, "0050C2000100", "HALL", 8, 10, 7003};
const std::string kR5Line = "00:50:C2:00:03:00\t    10.231.0.12\tR5 (Extender)";
const std::string kPd10Line = "00:50:C2:00:01:00\t    10.231.0.13\tPD10";
const std::string kR5Diagnostic = "Type: 0x09 SubType: 0x10\t" + kR5Line;
const std::string kPd10Diagnostic = "Type: 0x08 SubType: 0x0A\t" + kPd10Line;

std::string Address(int host) { return testing_support::LanAddress(host); }

std::string ReadFile(const fs::path& path) { return testing_support::ReadFileBytes(path); }
void WriteFile(const fs::path& path, const std::string& bytes) { testing_support::WriteFileBytes(path, bytes); }

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = char((i * (2 * seed + 1) + i / 251 + size_t(seed) * 17) & 0xFF);
  return bytes;
}

// ---- the trace --------------------------------------------------------------------------------

struct Event {
  std::string kind;
  std::vector<long> numbers;
  std::string text;
};

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

// How many leading fields are numbers, per kind; a text follows them for the kinds that have one.
const std::map<std::string, std::pair<int, bool>> kShapes = {
    {"open", {5, true}},  {"control", {7, false}}, {"rows", {3, false}},   {"caption", {1, true}},
    {"insert", {3, true}}, {"delete", {3, false}}, {"reset", {2, false}}, {"select", {3, false}},
    {"bar", {5, false}},  {"button", {3, true}},  {"box", {1, true}},     {"answer", {1, false}},
    {"close", {1, false}},
};

std::vector<Event> ParseTrace(const std::string& text) {
  std::vector<Event> events;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    Event event;
    size_t at = line.find(' ');
    event.kind = line.substr(0, at);
    auto shape = kShapes.find(event.kind);
    if (shape == kShapes.end()) continue;
    for (int i = 0; i < shape->second.first && at != std::string::npos; ++i) {
      size_t next = line.find(' ', at + 1);
      event.numbers.push_back(std::stol(line.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1)));
      at = next;
    }
    if (shape->second.second && at != std::string::npos) event.text = Unescape(line.substr(at + 1));
    events.push_back(event);
  }
  return events;
}

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int CentreX() const { return x + width / 2; }
  int CentreY() const { return y + height / 2; }
};

// What the windows show, as the trace tells it up to now.
struct Shown {
  std::map<std::pair<int, int>, std::vector<std::string>> lists;  // (template, list) -> lines
  std::map<std::pair<int, int>, int> selection;
  std::map<std::pair<int, int>, Rect> controls;                  // (template, id) -> screen rect
  std::map<std::pair<int, int>, int> rowHeight;
  std::map<std::pair<int, int>, std::vector<long>> bar;         // low, high, pos
  std::map<std::pair<int, int>, std::vector<std::pair<bool, std::string>>> buttons;  // states in order
  std::map<int, Rect> windows;                                   // open windows' client areas
  std::vector<std::string> boxes;
  std::vector<int> answers;

  explicit Shown(const std::vector<Event>& events) {
    for (const Event& e : events) {
      const auto& n = e.numbers;
      if (e.kind == "open") {
        windows[int(n[0])] = Rect{int(n[1]), int(n[2]), int(n[3]), int(n[4])};
      } else if (e.kind == "close") {
        windows.erase(int(n[0]));
      } else if (e.kind == "control") {
        controls[{int(n[0]), int(n[2])}] = Rect{int(n[3]), int(n[4]), int(n[5]), int(n[6])};
      } else if (e.kind == "rows") {
        rowHeight[{int(n[0]), int(n[1])}] = int(n[2]);
      } else if (e.kind == "insert") {
        auto& lines = lists[{int(n[0]), int(n[1])}];
        size_t at = std::min(size_t(n[2]), lines.size());
        lines.insert(lines.begin() + long(at), e.text);
      } else if (e.kind == "delete") {
        auto& lines = lists[{int(n[0]), int(n[1])}];
        if (size_t(n[2]) < lines.size()) lines.erase(lines.begin() + n[2]);
      } else if (e.kind == "reset") {
        lists[{int(n[0]), int(n[1])}].clear();
      } else if (e.kind == "select") {
        selection[{int(n[0]), int(n[1])}] = int(n[2]);
      } else if (e.kind == "bar") {
        bar[{int(n[0]), int(n[1])}] = {n[2], n[3], n[4]};
      } else if (e.kind == "button") {
        buttons[{int(n[0]), int(n[1])}].push_back({n[2] != 0, e.text});
      } else if (e.kind == "box") {
        boxes.push_back(e.text);
      } else if (e.kind == "answer") {
        answers.push_back(int(n[0]));
      }
    }
  }
  std::vector<std::string> Lines(int dialog, int list) const {
    auto found = lists.find({dialog, list});
    return found == lists.end() ? std::vector<std::string>{} : found->second;
  }
};

// ---- screenshots --------------------------------------------------------------------------------

struct Image {
  int width = 0;
  int height = 0;
  std::string rgb;
  struct Pixel {
    int r, g, b;
    bool operator==(const Pixel&) const = default;
  };
  Pixel At(int x, int y) const {
    size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
    return Pixel{uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2])};
  }
};

bool ReadPpm(const fs::path& path, Image* image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int max = 0;
  if (!(in >> magic >> image->width >> image->height >> max) || magic != "P6" || max != 255) return false;
  in.get();
  image->rgb.resize(size_t(image->width) * size_t(image->height) * 3);
  return bool(in.read(image->rgb.data(), std::streamsize(image->rgb.size())));
}

class WindowsOnLan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifndef BSPLIFT_WITH_WINDOWS
    skipReason = "bsplift was built without windows (no wxWidgets)";
    return;
#endif
    if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v convert >/dev/null") != 0) {
      skipReason = "Xvfb, xdotool or ImageMagick is missing (scripts/setup installs them)";
      return;
    }
    skipReason = BringUpLan(Prefix(), 3);
  }

  static void TearDownTestSuite() {
    if (skipReason.empty()) TakeDownLan(Prefix());
  }

  static std::string Prefix() { return "wx" + std::to_string(getpid()); }
  static std::string Display() { return ":" + std::to_string(400 + getpid() % 400); }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    root = fs::temp_directory_path() / ("bsplift-windows-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    root = fs::canonical(root);
    fs::create_directories(kArtifacts);
  }

  void TearDown() override {
    if (bsplift > 0) Stop(bsplift, SIGKILL);
    for (pid_t pid : simulators) Stop(pid, SIGTERM);
    if (xvfb > 0) Stop(xvfb, SIGTERM);
    if (!root.empty()) fs::remove_all(root);
  }

  static void Stop(pid_t pid, int signal) {
    kill(pid, signal);
    waitpid(pid, nullptr, 0);
  }

  void StartDisplay() {
    std::string socket = "/tmp/.X11-unix/X" + Display().substr(1);
    xvfb = SpawnOnLanHost(Prefix(), kBspliftHost, {"Xvfb", Display(), "-screen", "0", "1024x" + std::to_string(kScreenHeight) + "x24", "-nolisten", "tcp"},
                          (root / "xvfb.txt").string(), (root / "xvfb.txt").string());
    ASSERT_GT(xvfb, 0);
    struct stat st;
    for (int i = 0; i < kTracePolls && stat(socket.c_str(), &st) != 0; ++i) usleep(kPollUs);
    ASSERT_EQ(stat(socket.c_str(), &st), 0) << ReadFile(root / "xvfb.txt");
  }

  void StartController(const Controller& c, const std::vector<std::string>& extra = {}) {
    fs::path disk = Disk(c);
    fs::create_directories(disk);
    fs::path log = root / ("simulator-" + std::to_string(c.host) + ".txt");
    std::vector<std::string> command = {kSimulator, "--address", Address(c.host), "--port", std::to_string(c.port),
                                        "--root", disk.string(), "--mac", c.mac, "--name", c.name,
                                        "--type", std::to_string(c.type), "--subtype", std::to_string(c.subtype)};
    command.insert(command.end(), extra.begin(), extra.end());
    pid_t pid = SpawnOnLanHost(Prefix(), c.host, command, log.string(), log.string());
    ASSERT_GT(pid, 0);
    simulators.push_back(pid);
    for (int i = 0; i < kTracePolls && ReadFile(log).find("listening") == std::string::npos; ++i) usleep(kPollUs);
    ASSERT_NE(ReadFile(log).find("listening"), std::string::npos) << ReadFile(log);
  }

  fs::path Disk(const Controller& c) const { return root / ("disk-" + std::to_string(c.host)); }
  fs::path Payload() const { return root / "payload"; }
  fs::path TracePath() const { return root / "trace.txt"; }
  fs::path ErrPath() const { return root / "bsplift-err.txt"; }

  // bsplift with no command, in the payload folder, on the display; `display` "" for none.
  void StartBsplift(const std::string& display) {
    fs::create_directories(Payload());
    std::string script = "cd '" + Payload().string() + "' && exec env " +
                         (display.empty() ? std::string("-u DISPLAY") : "DISPLAY=" + display) +
                         " BSPLIFT_UI_TRACE='" + TracePath().string() + "' '" + kBsplift + "'";
    bsplift = SpawnOnLanHost(Prefix(), kBspliftHost, {"sh", "-c", script}, (root / "bsplift-out.txt").string(),
                             ErrPath().string());
    ASSERT_GT(bsplift, 0);
  }

  // The exit code of bsplift once it ends; a hung one is killed and fails the test.
  int FinishBsplift() {
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < kProcessEndPolls && (ended = waitpid(bsplift, &status, WNOHANG)) == 0; ++i) usleep(kPollUs);
    if (ended != bsplift) {
      Stop(bsplift, SIGKILL);
      bsplift = -1;
      ADD_FAILURE() << "bsplift did not end and was killed";
      return -1;
    }
    bsplift = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  Shown Now() const { return Shown(ParseTrace(ReadFile(TracePath()))); }

  // Waits until the windows show what `holds` wants; the last state either way.
  bool WaitFor(const std::function<bool(const Shown&)>& holds, Shown* last = nullptr) const {
    for (int i = 0; i < kTracePolls; ++i) {
      Shown shown = Now();
      if (holds(shown)) {
        if (last) *last = shown;
        return true;
      }
      usleep(kPollUs);
    }
    if (last) *last = Now();
    return false;
  }

  std::string Describe() const { return "trace:\n" + ReadFile(TracePath()) + "stderr:\n" + ReadFile(ErrPath()); }

  void Xdo(const std::string& args) const {
    std::string command = OnLanHost(Prefix(), kBspliftHost, "env DISPLAY=" + Display() + " xdotool " + args);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  void Click(int x, int y) const { Xdo("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1"); }
  void Key(const std::string& keys) const { Xdo("key --delay 80 " + keys); }

  // Clicks line `index` of a list box, from its rectangle and row height in the trace.
  void ClickLine(const Shown& shown, int dialog, int list, int index) const {
    Rect r = shown.controls.at({dialog, list});
    int row = shown.rowHeight.at({dialog, list});
    Click(r.x + 20, r.y + index * row + row / 2);
  }
  void ClickControl(const Shown& shown, int dialog, int id) const {
    Rect r = shown.controls.at({dialog, id});
    Click(r.CentreX(), r.CentreY());
  }

  // A screenshot of the whole display, kept as an artefact and read back.
  Image Screenshot(const std::string& name) const {
    fs::path png = kArtifacts / name;
    fs::path ppm = root / (name + ".ppm");
    std::string command = OnLanHost(Prefix(), kBspliftHost, "env DISPLAY=" + Display() + " import -window root '" +
                                                                png.string() + "'") +
                          " && convert '" + png.string() + "' '" + ppm.string() + "'";
    Image image;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(ReadPpm(ppm, &image)) << ppm;
    return image;
  }

  // Both controllers and the display up, bsplift listing them.
  void StartSite() {
    StartDisplay();
    if (HasFatalFailure()) return;
    StartController(kR5, {"--reboot-seconds", "6"});
    if (HasFatalFailure()) return;
    StartController(kPd10);
    if (HasFatalFailure()) return;
    StartBsplift(Display());
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor([](const Shown& s) {
      return s.Lines(kMainDialog, kDeviceList) == std::vector<std::string>{kPd10Line, kR5Line};
    })) << Describe();
  }

  static inline std::string skipReason;
  fs::path root;
  pid_t bsplift = -1;
  pid_t xvfb = -1;
  std::vector<pid_t> simulators;
};

using LinesShown = std::vector<std::string>;

TEST_F(WindowsOnLan, TheMainDialogListsFiltersAndSwitchesTheViewByClicksAndKeys) {
  StartSite();
  if (HasFatalFailure()) return;
  Shown shown = Now();
  LinesShown entries = shown.Lines(kMainDialog, kFilterList);
  ASSERT_EQ(entries, (LinesShown{"ALL", "R5", "VARDO ZRT", "PD10", "PD2", "SONMARK ZRT"}));
  EXPECT_TRUE(shown.windows.count(kMainDialog));

  // "Show Only: PD10" leaves the PD10; "ALL" brings both back.
  ClickLine(shown, kMainDialog, kFilterList, 3);
  EXPECT_TRUE(WaitFor([](const Shown& s) { return s.Lines(kMainDialog, kDeviceList) == LinesShown{kPd10Line}; }))
      << Describe();
  ClickLine(shown, kMainDialog, kFilterList, 0);
  EXPECT_TRUE(WaitFor([](const Shown& s) {
    return s.Lines(kMainDialog, kDeviceList) == LinesShown{kPd10Line, kR5Line};
  })) << Describe();

  // F7 twice: the diagnostic view; F8 twice: the plain one again.
  Key("F7 F7");
  EXPECT_TRUE(WaitFor([](const Shown& s) {
    return s.Lines(kMainDialog, kDeviceList) == LinesShown{kPd10Diagnostic, kR5Diagnostic};
  })) << Describe();
  Key("F8 F8");
  EXPECT_TRUE(WaitFor([](const Shown& s) {
    return s.Lines(kMainDialog, kDeviceList) == LinesShown{kPd10Line, kR5Line};
  })) << Describe();

  // Selecting a line selects it in the model (the program echoes it) with Start enabled.
  ClickLine(shown, kMainDialog, kDeviceList, 1);
  Shown selected(ParseTrace(""));
  EXPECT_TRUE(WaitFor([](const Shown& s) { return s.selection.count({kMainDialog, kDeviceList}) &&
                                                  s.selection.at({kMainDialog, kDeviceList}) == 1; },
                      &selected))
      << Describe();
  ASSERT_TRUE(selected.buttons.count({kMainDialog, kStart}));
  EXPECT_TRUE(selected.buttons.at({kMainDialog, kStart}).back().first);
  usleep(300000);
  Screenshot("main-dialog.png");

  // Escape closes the main dialog, and with it the program.
  Key("Escape");
  EXPECT_EQ(FinishBsplift(), 0) << Describe();
  EXPECT_FALSE(Now().windows.count(kMainDialog));
}

TEST_F(WindowsOnLan, AnUpgradeByClicksAndKeysRunsToCompletedWithTheWindowsDrawnThroughTheReturnWait) {
  const std::string rootfs = Pattern(1500000, 3);
  const std::string script = "#!/bin/sh\necho upgrading\n";
  WriteFile(Payload() / "BSP" / "UPGRADE" / "rootfs.img", rootfs);
  WriteFile(Payload() / "BSP" / "UPGRADE" / "upgrade.sh", script);
  StartSite();
  if (HasFatalFailure()) return;
  Shown shown = Now();

  // The R5 line, Start, and Return for Yes in the warning box.
  ClickLine(shown, kMainDialog, kDeviceList, 1);
  ASSERT_TRUE(WaitFor([](const Shown& s) {
    return s.selection.count({kMainDialog, kDeviceList}) && s.selection.at({kMainDialog, kDeviceList}) == 1;
  })) << Describe();
  ClickControl(shown, kMainDialog, kStart);
  ASSERT_TRUE(WaitFor([](const Shown& s) { return !s.boxes.empty(); })) << Describe();
  EXPECT_EQ(Now().boxes[0].rfind("Warning: You are about to upgrade the board support package", 0), 0u);
  Key("Return");
  ASSERT_TRUE(WaitFor([](const Shown& s) { return s.windows.count(kUpgradeDialog) > 0; })) << Describe();
  EXPECT_EQ(Now().answers, std::vector<int>{6});

  // The return wait: the program's thread sleeps. Take the window off the screen and bring it
  // back lower down, its bars and the foot of its log clear of the main dialog: Xvfb keeps no
  // hidden contents, so what shows there was painted during the sleep.
  Shown waiting(ParseTrace(""));
  ASSERT_TRUE(WaitFor([](const Shown& s) {
    LinesShown log = s.Lines(kUpgradeDialog, kLogList);
    return !log.empty() && log.back() == kReturnWaiting;
  }, &waiting)) << Describe();
  Rect window = waiting.windows.at(kUpgradeDialog);
  Rect main = waiting.windows.at(kMainDialog);
  const int dx = 200 - window.x;
  const int dy = kScreenHeight - window.height - window.y;
  Xdo("search --name '^Upgrading Board Support Package' windowmove %1 1500 1500");
  usleep(300000);
  Xdo("search --name '^Upgrading Board Support Package' windowmove %1 200 " +
      std::to_string(kScreenHeight - window.height));
  usleep(800000);
  Image during = Screenshot("return-wait.png");
  Shown after = Now();
  LinesShown log = after.Lines(kUpgradeDialog, kLogList);
  EXPECT_TRUE(std::find(log.begin(), log.end(), kRunCompleted) == log.end())
      << "the upgrade ended before the screenshot: it shows nothing about the wait";
  auto outsideMain = [&](int x, int y) {
    return x < main.x || x >= main.x + main.width || y < main.y || y >= main.y + main.height;
  };

  // The log list shows text where the main dialog never was: dark pixels, but not a dark area.
  Rect list = waiting.controls.at({kUpgradeDialog, kLogList});
  int dark = 0, total = 0;
  for (int y = list.y + dy + 3; y < list.y + dy + list.height - 3; ++y) {
    for (int x = list.x + dx + 3; x < list.x + dx + list.width - 20; ++x) {
      if (!outsideMain(x, y)) continue;
      Image::Pixel p = during.At(x, y);
      dark += p.r < 100 && p.g < 100 && p.b < 100;
      ++total;
    }
  }
  ASSERT_GT(total, 10000) << "too little of the log list clear of the main dialog to judge";
  EXPECT_GT(dark, 200) << "no text in the log list";
  EXPECT_LT(dark, total / 3) << "the log list is dark: not repainted";

  // The total bar is filled as far as its position says.
  Rect bar = waiting.controls.at({kUpgradeDialog, kTotalBar});
  std::vector<long> state = after.bar.at({kUpgradeDialog, kTotalBar});
  const int inner = bar.width - 8;
  const int left = bar.x + dx + 4;
  const int y = bar.CentreY() + dy;
  ASSERT_TRUE(outsideMain(left, y));
  Image::Pixel fill = during.At(left, y);
  EXPECT_FALSE(fill.r < 40 && fill.g < 40 && fill.b < 40) << "the bar is dark: not repainted";
  int filled = 0;
  for (int x = left; x < left + inner; ++x) filled += during.At(x, y) == fill;
  double expected = double(state[2] - state[0]) / double(state[1] - state[0]);
  EXPECT_NEAR(double(filled) / inner, expected, 0.05) << "bar at " << state[2] << " of " << state[1];

  // On to the end: completed, both bars having moved, the payload on the controller's disk.
  Shown done(ParseTrace(""));
  ASSERT_TRUE(WaitFor([](const Shown& s) {
    auto b = s.buttons.find({kUpgradeDialog, kCancelOrOk});
    return b != s.buttons.end() && b->second.back().second == "OK";
  }, &done)) << Describe();
  EXPECT_EQ(done.Lines(kUpgradeDialog, kLogList).back(), kRunCompleted);
  EXPECT_EQ(done.bar.at({kUpgradeDialog, kTotalBar})[2], 1000);
  std::vector<long> itemPositions;
  for (const Event& e : ParseTrace(ReadFile(TracePath()))) {
    if (e.kind == "bar" && e.numbers[0] == kUpgradeDialog && e.numbers[1] == kItemBar) itemPositions.push_back(e.numbers[4]);
  }
  EXPECT_GT(std::count_if(itemPositions.begin(), itemPositions.end(), [](long p) { return p > 0 && p < 100; }), 0)
      << "the item bar never stood between its ends";
  fs::path stored = Disk(kR5) / "mmcblk0p4" / "UPGRADE";
  EXPECT_EQ(ReadFile(stored / "rootfs.img"), rootfs);
  EXPECT_EQ(ReadFile(stored / "upgrade.sh"), script);
  usleep(300000);
  Screenshot("upgrade-dialog.png");

  // OK closes the upgrade dialog; Escape the main dialog and the program.
  Rect ok = done.controls.at({kUpgradeDialog, kCancelOrOk});  // where it was before the window moved
  Click(ok.CentreX() + dx, ok.CentreY() + dy);
  ASSERT_TRUE(WaitFor([](const Shown& s) { return !s.windows.count(kUpgradeDialog); })) << Describe();
  Key("Escape");
  EXPECT_EQ(FinishBsplift(), 0) << Describe();
}

TEST_F(WindowsOnLan, WithoutADisplayItPrintsTheUsageAndExitsTwo) {
  StartBsplift("");
  if (HasFatalFailure()) return;
  EXPECT_EQ(FinishBsplift(), 2);
  std::string err = ReadFile(ErrPath());
  EXPECT_NE(err.find("usage: bsplift list"), std::string::npos) << err;
  EXPECT_NE(err.find("bsplift upgrade MAC"), std::string::npos) << err;
}

}  // namespace
