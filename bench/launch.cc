// bench_launch: runs one program to its end and reports its wall time and
// its peak memory, as seen from a parent process.
//
//   bench_launch [--poll-ms N] <program> [arguments...]
//
// Prints one line
//   exit=<code> ms=<wall> peak_ws=<bytes> peak_pagefile=<bytes> polls=<n>
// and exits 0 when the program could be started, 1 when it could not, 2 on a
// usage error. The program's own exit code is only printed.
//
// The time runs from just before CreateProcessA to the moment the process
// handle is signalled: process creation, loading and the whole run.
//
// Memory comes from GetProcessMemoryInfo on the process handle. Windows keeps
// the counters of an ended process, but Wine reads them from /proc of the
// live Unix process, so after the end they may be gone; and Wine's
// PeakPagefileUsage is the current private usage, not a peak. With
// --poll-ms N (N > 0) the counters are therefore also sampled every N ms
// while the program runs, and the largest values seen are reported. With
// the default 0 nothing is sampled, so the timing is undisturbed.

#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Command line quoting as the Microsoft C run-time parses it back.
std::string Quote(const char* arg) {
  if (*arg != '\0' && std::strpbrk(arg, " \t\"") == nullptr) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char* p = arg; *p != '\0'; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    if (*p == '"')
      quoted.append(backslashes + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += *p;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

struct Peaks {
  SIZE_T working_set = 0;
  SIZE_T pagefile = 0;
  int polls = 0;
};

void Sample(HANDLE process, Peaks* peaks) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) return;
  ++peaks->polls;
  peaks->working_set =
      std::max({peaks->working_set, counters.PeakWorkingSetSize, counters.WorkingSetSize});
  peaks->pagefile = std::max({peaks->pagefile, counters.PeakPagefileUsage, counters.PagefileUsage});
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  DWORD poll_ms = 0;
  if (argc > 2 && std::strcmp(argv[1], "--poll-ms") == 0) {
    poll_ms = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: bench_launch [--poll-ms N] <program> [arguments...]\n");
    return 2;
  }
  std::string command_line;
  for (int i = first; i < argc; ++i) {
    if (i > first) command_line += ' ';
    command_line += Quote(argv[i]);
  }

  LARGE_INTEGER frequency, began, ended;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  QueryPerformanceCounter(&began);
  if (!CreateProcessA(argv[first], command_line.data(), /*lpProcessAttributes=*/nullptr,
                      /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE,
                      /*dwCreationFlags=*/0, /*lpEnvironment=*/nullptr,
                      /*lpCurrentDirectory=*/nullptr, &startup, &process)) {
    std::fprintf(stderr, "bench_launch: cannot start %s (error %lu)\n", argv[first],
                 GetLastError());
    return 1;
  }
  Peaks peaks;
  if (poll_ms > 0) {
    while (WaitForSingleObject(process.hProcess, poll_ms) == WAIT_TIMEOUT) {
      Sample(process.hProcess, &peaks);
    }
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  QueryPerformanceCounter(&ended);
  Sample(process.hProcess, &peaks);  // Windows still has the counters; Wine may not

  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const double ms = 1000.0 * static_cast<double>(ended.QuadPart - began.QuadPart) /
                    static_cast<double>(frequency.QuadPart);
  std::printf("exit=%lu ms=%.3f peak_ws=%llu peak_pagefile=%llu polls=%d\n", exit_code, ms,
              static_cast<unsigned long long>(peaks.working_set),
              static_cast<unsigned long long>(peaks.pagefile), peaks.polls);
  return 0;
}
