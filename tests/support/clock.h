// Wall and CPU time for tests and benchmarks.
#pragma once

#include <windows.h>

namespace vavizav::testing {

class Stopwatch {
 public:
  Stopwatch() { ::QueryPerformanceCounter(&start_); }
  double ElapsedMs() const { return ElapsedUs() / 1000.0; }
  double ElapsedUs() const {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER start_;
};

// A FILETIME duration (100 ns units) in milliseconds.
inline double Ms(const FILETIME& time) {
  return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 10000.0;
}

// Kernel plus user time of the calling thread so far, in milliseconds.
inline double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  return Ms(kernel) + Ms(user);
}

// Kernel plus user time of the whole process so far, in milliseconds.
inline double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  return Ms(kernel) + Ms(user);
}

}  // namespace vavizav::testing
