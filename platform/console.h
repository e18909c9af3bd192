#pragma once
// The console the command-line front end talks to: whether its standard streams are terminals, and
// Ctrl-C. Not part of the simulated platform: the front end takes these as plain inputs, so tests
// hand it their own.
namespace platform {

enum class StandardStream { Input, Output, Error };
bool IsTerminal(StandardStream stream);
// Connects the standard streams to the console the program was started from, where the system
// does not do it by itself (a windows program on Windows); streams redirected elsewhere stay.
// Call it first, before anything is printed.
void AttachConsole();

// Ctrl-C handling for the process, once installed (a process started with Ctrl-C ignored keeps
// ignoring it): normally a Ctrl-C ends the process at once with
// exit code 130. While soft (SetInterruptSoft(true)), the first one only raises InterruptRequested()
// and writes `notice` to stderr; the next one ends the process at once with 130 all the same.
void InstallInterruptHandler();
void SetInterruptSoft(bool soft, const char* notice);
bool InterruptRequested();

}  // namespace platform
