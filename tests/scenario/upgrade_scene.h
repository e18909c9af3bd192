#pragma once
// One upgrade scenario in one object, so that a table of cases can make a fresh one per case: the
// simulated LAN, the controller site, the installer and a backend that times what the upgrade
// dialog shows.
#include <gtest/gtest.h>

#include <string>

#include "app/main_dialog.h"
#include "tests/scenario/installer.h"
#include "tests/support/controller_site.h"
#include "tests/support/test_world.h"

namespace testing_support {

inline constexpr char kSceneMac[] = "0050C2000001";

class UpgradeScene {
 public:
  // A type 9 controller with `mac` (the site's defaults otherwise); change site.Config() and the
  // installer's moves before Run.
  explicit UpgradeScene(const std::string& mac = kSceneMac) : site(world), installer(mac) { site.Config().mac = mac; }

  // Puts the controller on the LAN; Run does it unless the test did (to act on its host first).
  void Start() {
    ASSERT_EQ(site.Start(), 1);
    started = true;
  }

  // Runs the main dialog until the installer closes it.
  void Run() {
    if (!started) Start();
    ui::ScopedBackend installed(backend);
    CPKGLIFTDlg dialog;
    dialog.DoModal();
  }

  // The virtual tick at which the upgrade dialog first showed `line` (or a line containing it).
  uint32_t TickOf(const std::string& line) const { return backend.TickOf(line); }

  TestWorld world;
  ControllerSite site;
  Installer installer;
  TimedBackend backend{&installer};

 private:
  bool started = false;
};

}  // namespace testing_support
