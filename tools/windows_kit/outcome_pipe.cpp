#include "tools/windows_kit/outcome_pipe.h"

#include <mutex>

namespace kestrelume::kit {
namespace {
constexpr int kInstances = 4;
}

OutcomePipe::OutcomePipe(std::wstring name) : path_(L"\\\\.\\pipe\\" + std::move(name)) {
  for (int i = 0; i < kInstances; ++i) {
    if (HANDLE thread = CreateThread(nullptr, 0, Listen, this, 0, nullptr)) threads_.push_back(thread);
  }
}

OutcomePipe::~OutcomePipe() {
  InterlockedExchange(&stopping_, 1);
  // Each listener waits in ConnectNamedPipe: a connection of our own wakes it.
  for (HANDLE thread : threads_) {
    for (int i = 0; i < 200 && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++i) {
      HANDLE wake = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (wake != INVALID_HANDLE_VALUE) CloseHandle(wake);
      WaitForSingleObject(thread, 10);
    }
    CloseHandle(thread);
  }
}

std::vector<std::string> OutcomePipe::Words() {
  std::lock_guard<SlimLock> hold(lock_);
  return words_;
}

bool OutcomePipe::WaitForWords(size_t count, DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (;;) {
    if (Words().size() >= count) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(10);
  }
}

DWORD WINAPI OutcomePipe::Listen(void* argument) {
  auto* self = static_cast<OutcomePipe*>(argument);
  HANDLE pipe = CreateNamedPipeW(self->path_.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                 PIPE_UNLIMITED_INSTANCES, 0, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return 1;
  while (!InterlockedCompareExchange(&self->stopping_, 0, 0)) {
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
      Sleep(10);
      continue;
    }
    if (InterlockedCompareExchange(&self->stopping_, 0, 0)) break;
    std::string word;
    char buffer[256];
    DWORD got = 0;
    while (word.size() < 4096 && ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      word.append(buffer, got);
    }
    DisconnectNamedPipe(pipe);
    std::lock_guard<SlimLock> hold(self->lock_);
    self->words_.push_back(word);
  }
  CloseHandle(pipe);
  return 0;
}

}  // namespace kestrelume::kit
