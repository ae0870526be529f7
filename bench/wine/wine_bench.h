// What the sections of wine_bench share: its options, the check of a forward
// lookup's answer and the count of wrong answers the exit status reports.
#pragma once

#include <string>

#include "bench.h"
#include "text.h"

namespace wine_bench {

// The names every section uses.
using vavizav::runtime::com_ptr;
using vavizav::runtime::unique_variant;
using vavizav::testing::Narrow;
using vavizav::testing::ProcessCpuMs;
using vavizav::testing::ThreadCpuMs;

struct Options {
  std::wstring Server;
  std::wstring Dll;
  std::string Only = "latency,throughput,silent,soak";
  int Runs = 5;
  int Samples = 200;
  int PerThread = 1000;
  int Soak = 100000;
  std::wstring Silent = L"127.0.0.99";
  int SilentWaits = 3;
  int Trace = 0;

  bool Wants(const char* section) const {
    return ("," + Only + ",").find(std::string(",") + section + ",") != std::string::npos;
  }
};

// A forward lookup of one.vavizav.test gave its address, S_OK and no LastError.
bool ForwardOk(const Outcome& outcome);
// Counts and reports (the first five of) the wrong answers.
void WrongAnswer(const char* where, const Outcome& outcome);
// The count of wrong answers (the exit status reports them), which sections
// that check answers without reporting each add to.
int& WrongAnswers();

// The sections, each printing its figures (wine_bench_speed.cpp,
// wine_bench_endurance.cpp).
void Latency(const Options& options, const Component& component);
void Throughput(const Options& options, const Component& component);
void SilentWait(const Options& options, const Component& component);
void Soak(const Options& options, const Component& component);
void Trace(const Options& options, const Component& component);

}  // namespace wine_bench
