#include "runtime/winsock_startup.h"

#include <winsock2.h>
#include <windows.h>

namespace vavizav::runtime {
namespace {

INIT_ONCE g_winsockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK StartWinsock(PINIT_ONCE, PVOID, PVOID*) noexcept {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0 ? TRUE : FALSE;
}

}  // namespace

bool EnsureWinsock() noexcept { return ::InitOnceExecuteOnce(&g_winsockOnce, StartWinsock, nullptr, nullptr) != FALSE; }

}  // namespace vavizav::runtime
