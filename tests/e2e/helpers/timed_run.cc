// timed_run: starts a program, waits for it to end and reports when, by the
// clock the other helpers log by (GetTickCount), so that a scenario can time
// the program inside Wine and order its start and end against the events of
// the stand-in Lexoria and the box robot. The runner's own wall clock sees
// Wine's process start and exit as well, in coarse steps.
//
// Usage: timed_run.exe [--hidden-station] REPORT PROGRAM [ARGUMENTS...]
//   Runs PROGRAM with ARGUMENTS as they stand on this command line, writes
//   "start=TICK end=TICK exit=CODE" to REPORT and exits with PROGRAM's exit
//   code; 255 (and "error=N" in REPORT) when PROGRAM did not start, 2 on a
//   usage error. With --hidden-station PROGRAM runs on the desktop of a
//   window station of its own, which is not visible, as a management tool's
//   service starts programs: nobody can see or answer its boxes.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The command line after its first `count` arguments: the program's own
// name and the report path. Arguments are split as the C run-time splits
// them for paths, which never hold a quote: a quoted run or a run of
// non-blanks.
const wchar_t* SkipArguments(const wchar_t* line, int count) {
  for (int i = 0; i < count; ++i) {
    while (*line == L' ' || *line == L'\t') ++line;
    bool quoted = false;
    while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
      if (*line == L'"') quoted = !quoted;
      ++line;
    }
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

void Report(const char* path, const std::string& text) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return;
  fputs(text.c_str(), file);
  fclose(file);
}

// A new window station, not visible, with a desktop "Default": the name of
// that desktop for STARTUPINFO, or empty on failure. The handles stay open
// until the helper ends, which keeps both alive for the program.
std::wstring HiddenDesktop() {
  const wchar_t kStation[] = L"LexoriaRollout";
  const HWINSTA ours = GetProcessWindowStation();
  const HWINSTA station = CreateWindowStationW(kStation, 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr || !SetProcessWindowStation(station)) return L"";
  const HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(ours);
  if (desktop == nullptr) return L"";
  return std::wstring(kStation) + L"\\Default";
}

}  // namespace

int main(int argc, char** argv) {
  const bool hidden = argc > 1 && std::string(argv[1]) == "--hidden-station";
  argc -= hidden;
  argv += hidden;
  if (argc < 3) {
    fprintf(stderr, "usage: timed_run [--hidden-station] REPORT PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  std::wstring command_line = SkipArguments(GetCommandLineW(), hidden ? 3 : 2);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring desktop = hidden ? HiddenDesktop() : L"";
  startup.lpDesktop = hidden ? desktop.data() : nullptr;
  PROCESS_INFORMATION process = {};
  const DWORD start = GetTickCount();
  if ((hidden && desktop.empty()) ||
      !CreateProcessW(/*lpApplicationName=*/nullptr, command_line.data(),
                      /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr,
                      /*bInheritHandles=*/FALSE, /*dwCreationFlags=*/0,
                      /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &startup,
                      &process)) {
    Report(argv[1], "error=" + std::to_string(GetLastError()) + "\n");
    return 255;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  const DWORD end = GetTickCount();
  DWORD exit_code = 255;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Report(argv[1], "start=" + std::to_string(start) + " end=" + std::to_string(end) +
                      " exit=" + std::to_string(exit_code) + "\n");
  return static_cast<int>(exit_code);
}
