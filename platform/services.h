#pragma once
// The seam between the program and its operating system. The free functions of clock.h, socket.h,
// adapters.h and file.h forward to the services installed for the process: the real ones unless a
// simulated world is installed (platform/sim/world.h). The calls keep their global shape on
// purpose: the application reaches the OS the way it always did, and a test swaps the OS as a whole.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/adapters.h"
#include "platform/file.h"
#include "platform/socket.h"

namespace platform {

class ClockService {
 public:
  virtual ~ClockService() = default;
  virtual uint32_t GetTickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

class NetworkService {
 public:
  virtual ~NetworkService() = default;
  virtual Socket OpenUdp() = 0;
  virtual Socket OpenTcp() = 0;
  virtual int Bind(Socket s, Endpoint local) = 0;
  virtual int SetBroadcast(Socket s, bool allow) = 0;
  virtual int SetReceiveBuffer(Socket s, uint32_t bytes) = 0;
  virtual int SendTo(Socket s, const void* data, int size, Endpoint to) = 0;
  virtual int PendingBytes(Socket s, uint32_t* count) = 0;
  virtual int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) = 0;
  virtual int Connect(Socket s, Endpoint to) = 0;
  virtual int Send(Socket s, const void* data, int size) = 0;
  virtual int Recv(Socket s, void* buffer, int size) = 0;
  virtual int LocalEndpoint(Socket s, Endpoint* local) = 0;
  virtual int Listen(Socket s, int backlog) = 0;
  virtual Socket Accept(Socket s, Endpoint* from) = 0;
  virtual int WaitReadable(Socket s, uint32_t ms) = 0;
  virtual int WaitWritable(Socket s, uint32_t ms) = 0;
  virtual int WaitReady(Socket s, int wanted, uint32_t ms) = 0;
  virtual int SetSendTimeout(Socket s, uint32_t ms) = 0;
  virtual int WaitAny(WaitEntry* entries, int count, uint32_t ms) = 0;
  virtual int ShutdownReceive(Socket s) = 0;
  virtual int ShutdownBoth(Socket s) = 0;
  virtual int Close(Socket s) = 0;
  virtual int LastSocketError() = 0;
  virtual int GetAddressCount(int* count) = 0;
  virtual int GetAdapters(std::vector<Adapter>* adapters) = 0;
};

class FileService {
 public:
  virtual ~FileService() = default;
  virtual File OpenFile(const std::string& path, Access access, Disposition disposition) = 0;
  virtual int ReadFile(File f, void* buffer, uint32_t size, uint32_t* done) = 0;
  virtual int WriteFile(File f, const void* data, uint32_t size, uint32_t* done) = 0;
  virtual int64_t SeekFile(File f, int64_t distance, SeekOrigin origin) = 0;
  virtual int64_t GetFileSize(File f) = 0;
  virtual int CloseFile(File f) = 0;
  virtual int ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) = 0;
  virtual int CopyFile(const std::string& from, const std::string& to, bool failIfExists) = 0;
  virtual uint32_t GetFileAttributes(const std::string& path) = 0;
  virtual int SetFileAttributes(const std::string& path, uint32_t attributes) = 0;
  virtual std::string GetCurrentDirectory() = 0;
  virtual int SetCurrentDirectory(const std::string& path) = 0;
  virtual int GetLastError() = 0;
};

// What the process runs on. Each pointer is borrowed; null means the real implementation.
struct Services {
  ClockService* clock = nullptr;
  NetworkService* network = nullptr;
  FileService* files = nullptr;
};

// Installs services for the whole process and returns the ones they replace.
Services Install(const Services& services);

ClockService& Clock();
NetworkService& Network();
FileService& Files();

}  // namespace platform
