#include "platform/services.h"

#include "platform/clock.h"
#include "platform/real.h"

namespace platform {
namespace {

WaitHook& InstalledHook() {
  static WaitHook hook = nullptr;
  return hook;
}

uint32_t& LastHookTick() {
  static uint32_t tick = 0;
  return tick;
}

// Runs wait(ms) in slices, with the hook after each slice that ended without the socket ready,
// once a slice's worth of waiting has passed since it last ran. Short waits count too: a query
// waits in a loop of short waits, and that loop must keep the windows painted as well. Answers the
// wait's own result as soon as it is not 0 (ready, or an error), else 0 once ms have passed. Waits
// longer than INT32_MAX are endless, as the implementations take them.
template <typename Wait>
int Sliced(uint32_t ms, Wait wait) {
  if (!InstalledHook()) return wait(ms);
  const bool endless = ms > 0x7FFFFFFFu;
  const uint32_t start = Clock().GetTickCount();
  for (;;) {
    uint32_t spent = ElapsedMs(Clock().GetTickCount(), start);
    uint32_t left = endless ? kWaitHookSliceMs : (spent >= ms ? 0 : ms - spent);
    uint32_t slice = left < kWaitHookSliceMs ? left : kWaitHookSliceMs;
    int r = wait(slice);
    if (r != 0) return r;
    WaitHookIfDue();
    if (!endless && slice == left) return 0;
  }
}

Services& Installed() {
  static Services installed;
  return installed;
}

}  // namespace

Services Install(const Services& services) {
  Services previous = Installed();
  Installed() = services;
  return previous;
}

ClockService& Clock() {
  ClockService* c = Installed().clock;
  return c ? *c : os::RealClock();
}

NetworkService& Network() {
  NetworkService* n = Installed().network;
  return n ? *n : os::RealNetwork();
}

FileService& Files() {
  FileService* f = Installed().files;
  return f ? *f : os::RealFiles();
}

uint32_t GetTickCount() { return Clock().GetTickCount(); }
void Sleep(uint32_t ms) {
  Sliced(ms, [](uint32_t slice) {
    Clock().Sleep(slice);
    return 0;
  });
}

WaitHook CurrentWaitHook() { return InstalledHook(); }

void WaitHookIfDue() {
  WaitHook hook = InstalledHook();
  if (!hook) return;
  uint32_t now = Clock().GetTickCount();
  if (ElapsedMs(now, LastHookTick()) < kWaitHookSliceMs) return;
  LastHookTick() = now;
  hook();
}

WaitHook SetWaitHook(WaitHook hook) {
  WaitHook previous = InstalledHook();
  InstalledHook() = hook;
  LastHookTick() = Clock().GetTickCount();
  return previous;
}
uint32_t MsSince(uint32_t then) { return ElapsedMs(GetTickCount(), then); }

Socket OpenUdp() { return Network().OpenUdp(); }
Socket OpenTcp() { return Network().OpenTcp(); }
int Bind(Socket s, Endpoint local) { return Network().Bind(s, local); }
int SetBroadcast(Socket s, bool allow) { return Network().SetBroadcast(s, allow); }
int SetReceiveBuffer(Socket s, uint32_t bytes) { return Network().SetReceiveBuffer(s, bytes); }
int SendTo(Socket s, const void* data, int size, Endpoint to) { return Network().SendTo(s, data, size, to); }
int PendingBytes(Socket s, uint32_t* count) { return Network().PendingBytes(s, count); }
int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) { return Network().RecvFrom(s, buffer, size, from); }
int Connect(Socket s, Endpoint to) { return Network().Connect(s, to); }
int Send(Socket s, const void* data, int size) { return Network().Send(s, data, size); }
int Recv(Socket s, void* buffer, int size) { return Network().Recv(s, buffer, size); }
int LocalEndpoint(Socket s, Endpoint* local) { return Network().LocalEndpoint(s, local); }
int Listen(Socket s, int backlog) { return Network().Listen(s, backlog); }
Socket Accept(Socket s, Endpoint* from) { return Network().Accept(s, from); }
int WaitReadable(Socket s, uint32_t ms) {
  return Sliced(ms, [s](uint32_t slice) { return Network().WaitReadable(s, slice); });
}
int WaitWritable(Socket s, uint32_t ms) {
  return Sliced(ms, [s](uint32_t slice) { return Network().WaitWritable(s, slice); });
}
int WaitReady(Socket s, int wanted, uint32_t ms) {
  return Sliced(ms, [s, wanted](uint32_t slice) { return Network().WaitReady(s, wanted, slice); });
}
int SetSendTimeout(Socket s, uint32_t ms) { return Network().SetSendTimeout(s, ms); }
int WaitAny(WaitEntry* entries, int count, uint32_t ms) {
  return Sliced(ms, [entries, count](uint32_t slice) { return Network().WaitAny(entries, count, slice); });
}
int ShutdownReceive(Socket s) { return Network().ShutdownReceive(s); }
int ShutdownBoth(Socket s) { return Network().ShutdownBoth(s); }
int Close(Socket s) { return Network().Close(s); }
int LastSocketError() { return Network().LastSocketError(); }
int GetAddressCount(int* count) { return Network().GetAddressCount(count); }
int GetAdapters(std::vector<Adapter>* adapters) { return Network().GetAdapters(adapters); }

File OpenFile(const std::string& path, Access access, Disposition disposition) {
  return Files().OpenFile(path, access, disposition);
}
int ReadFile(File f, void* buffer, uint32_t size, uint32_t* done) { return Files().ReadFile(f, buffer, size, done); }
int WriteFile(File f, const void* data, uint32_t size, uint32_t* done) { return Files().WriteFile(f, data, size, done); }
int64_t SeekFile(File f, int64_t distance, SeekOrigin origin) { return Files().SeekFile(f, distance, origin); }
int64_t GetFileSize(File f) { return Files().GetFileSize(f); }
int CloseFile(File f) { return Files().CloseFile(f); }
int ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) {
  return Files().ListDirectory(folder, entries);
}
int CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  return Files().CopyFile(from, to, failIfExists);
}
uint32_t GetFileAttributes(const std::string& path) { return Files().GetFileAttributes(path); }
int SetFileAttributes(const std::string& path, uint32_t attributes) { return Files().SetFileAttributes(path, attributes); }
std::string GetCurrentDirectory() { return Files().GetCurrentDirectory(); }
int SetCurrentDirectory(const std::string& path) { return Files().SetCurrentDirectory(path); }
int GetLastError() { return Files().GetLastError(); }

}  // namespace platform
