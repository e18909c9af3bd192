#pragma once
// The application object: prepares the platform and runs the main dialog; when that closes, the
// program ends.

// Makes the platform's sockets usable (Winsock's start-up): 1 when they are. POSIX sockets need no
// start-up, so this always answers 1 there.
int StartSockets();

class CPKGLIFTApp {
 public:
  // `startSockets` is the socket start-up to run first (tests put in one that fails).
  explicit CPKGLIFTApp(int (*startSockets)() = StartSockets) : startSockets(startSockets) {}

  // Runs the main dialog modally and returns 0, so that the program ends when it closes. When the
  // sockets cannot be started it says so in a message box instead, and returns 0 as well.
  int InitInstance();

 private:
  int (*startSockets)();
};

extern CPKGLIFTApp theApp;
