#pragma once
// The one place that includes the Windows headers. Only *_win32.cpp files include this.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // Windows 10: MinGW's default is far older
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

namespace connector {

// Owns one OS resource and releases it in its destructor. Close(value) is called only for
// values other than the Traits' invalid ones.
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;
  UniqueResource() noexcept = default;
  explicit UniqueResource(Value value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Value get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::valid(value_); }
  Value release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(Value value = Traits::invalid()) noexcept {
    Value old = std::exchange(value_, value);
    if (Traits::valid(old)) Traits::close(old);
  }

 private:
  Value value_ = Traits::invalid();
};

struct HandleTraits {
  using Value = HANDLE;
  static Value invalid() noexcept { return nullptr; }
  static bool valid(Value h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Value h) noexcept { CloseHandle(h); }
};
struct SocketTraits {
  using Value = SOCKET;
  static Value invalid() noexcept { return INVALID_SOCKET; }
  static bool valid(Value s) noexcept { return s != INVALID_SOCKET; }
  static void close(Value s) noexcept { closesocket(s); }
};
struct GdiObjectTraits {
  using Value = HGDIOBJ;
  static Value invalid() noexcept { return nullptr; }
  static bool valid(Value o) noexcept { return o != nullptr; }
  static void close(Value o) noexcept { DeleteObject(o); }
};
struct FindTraits {
  using Value = HANDLE;
  static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool valid(Value h) noexcept { return h != INVALID_HANDLE_VALUE; }
  static void close(Value h) noexcept { FindClose(h); }
};
struct ModuleTraits {
  using Value = HMODULE;
  static Value invalid() noexcept { return nullptr; }
  static bool valid(Value m) noexcept { return m != nullptr; }
  static void close(Value m) noexcept { FreeLibrary(m); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueSocket = UniqueResource<SocketTraits>;
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;
using UniqueFind = UniqueResource<FindTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;

}  // namespace connector
