#include "platform/services.h"

#include "platform/clock.h"
#include "platform/posix/real.h"

namespace platform {
namespace {

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
  return c ? *c : posix::RealClock();
}

NetworkService& Network() {
  NetworkService* n = Installed().network;
  return n ? *n : posix::RealNetwork();
}

FileService& Files() {
  FileService* f = Installed().files;
  return f ? *f : posix::RealFiles();
}

uint32_t GetTickCount() { return Clock().GetTickCount(); }
void Sleep(uint32_t ms) { Clock().Sleep(ms); }
uint32_t MsSince(uint32_t then) { return ElapsedMs(GetTickCount(), then); }

Socket OpenUdp() { return Network().OpenUdp(); }
Socket OpenTcp() { return Network().OpenTcp(); }
int Bind(Socket s, Endpoint local) { return Network().Bind(s, local); }
int SetBroadcast(Socket s, bool allow) { return Network().SetBroadcast(s, allow); }
int SendTo(Socket s, const void* data, int size, Endpoint to) { return Network().SendTo(s, data, size, to); }
int PendingBytes(Socket s, uint32_t* count) { return Network().PendingBytes(s, count); }
int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) { return Network().RecvFrom(s, buffer, size, from); }
int Connect(Socket s, Endpoint to) { return Network().Connect(s, to); }
int Send(Socket s, const void* data, int size) { return Network().Send(s, data, size); }
int Recv(Socket s, void* buffer, int size) { return Network().Recv(s, buffer, size); }
int LocalEndpoint(Socket s, Endpoint* local) { return Network().LocalEndpoint(s, local); }
int Listen(Socket s, int backlog) { return Network().Listen(s, backlog); }
Socket Accept(Socket s, Endpoint* from) { return Network().Accept(s, from); }
int WaitReadable(Socket s, uint32_t ms) { return Network().WaitReadable(s, ms); }
int WaitWritable(Socket s, uint32_t ms) { return Network().WaitWritable(s, ms); }
int WaitReady(Socket s, int wanted, uint32_t ms) { return Network().WaitReady(s, wanted, ms); }
int SetSendTimeout(Socket s, uint32_t ms) { return Network().SetSendTimeout(s, ms); }
int WaitAny(WaitEntry* entries, int count, uint32_t ms) { return Network().WaitAny(entries, count, ms); }
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
