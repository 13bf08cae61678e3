// stand_in_lexoria: plays a running Lexoria for the end-to-end scenarios. It is
// copied as Lexoria.exe into a test installation.
//
// On start it reads standin.cfg beside its exe, "key=value" lines:
//   marker_delay_ms=N  wait before creating the "lexoria_memfile" mapping (0)
//   window_delay_ms=N  wait after the mapping before creating the window (0)
//   marker=0           never create the mapping
//   window=0           never create the window
//   hold=NAME          open NAME beside the exe, sharing read only, and keep it
//                      open while running
//   ignore_quit=1      log WM_QUIT but keep running
//   quit_delay_ms=N    after WM_QUIT, wait this long before ending (0)
//   lifetime_ms=N      end by itself after this long (0: never)
// It also ends when a file "standin.stop" appears beside the exe.
//
// Every event is appended to standin.log beside the exe as one line
// "TICK PID EVENT [DETAILS]" (TICK from GetTickCount, in ms), written at once:
//   started parent=IMAGE ppid=N admin=0|1 (the process that started this one;
//   IMAGE "?" when it has ended already; whether this one's token is a member
//   of Administrators), cmdline TEXT, cwd TEXT, config KEY=VALUE, holding NAME,
//   hold-failed NAME error=N, marker, marker-failed error=N,
//   window hwnd=0xH, shown, hidden, activated, foreground, WM_CLOSE,
//   destroyed, WM_QUIT wparam=N, quit-ignored, stop-file, lifetime, exit.
// The window (class "TLXMainForm", title "Lexoria") is created hidden, so that
// whoever calls ShowWindow on it is seen doing so. The delays are timers on the
// message loop, so a WM_QUIT posted at any moment is noticed.

#include <windows.h>
// windows.h first: the tool help header builds on its types.
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

constexpr char kWindowClass[] = "TLXMainForm";
constexpr char kMappingName[] = "lexoria_memfile";
constexpr UINT kPollMs = 50;

std::string g_dir;  // Folder of the exe, with a trailing backslash.
HANDLE g_log = INVALID_HANDLE_VALUE;
HWND g_window = nullptr;
bool g_was_foreground = false;
bool g_destroyed = false;

void Log(const std::string& event) {
  char prefix[64];
  snprintf(prefix, sizeof(prefix), "%lu %lu ", GetTickCount(), GetCurrentProcessId());
  std::string line = prefix + event + "\n";
  if (g_log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(g_log, line.data(), static_cast<DWORD>(line.size()), &written,
            /*lpOverlapped=*/nullptr);
  FlushFileBuffers(g_log);
}

std::string ExeDir() {
  char path[MAX_PATH * 4] = {};
  DWORD n = GetModuleFileNameA(/*hModule=*/nullptr, path, sizeof(path));
  std::string dir(path, n);
  size_t slash = dir.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  size_t end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

std::map<std::string, std::string> ReadConfig(const std::string& path) {
  std::map<std::string, std::string> config;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return config;
  char line[1024];
  while (fgets(line, sizeof(line), file)) {
    std::string text = Trim(line);
    size_t eq = text.find('=');
    if (text.empty() || text[0] == '#' || eq == std::string::npos) continue;
    config[Trim(text.substr(0, eq))] = Trim(text.substr(eq + 1));
  }
  fclose(file);
  return config;
}

DWORD Number(const std::map<std::string, std::string>& config, const char* key, DWORD fallback) {
  auto it = config.find(key);
  return it == config.end() ? fallback : strtoul(it->second.c_str(), nullptr, 10);
}

std::string HexNumber(const void* value) {
  char buffer[32];
  snprintf(buffer, sizeof(buffer), "0x%llx",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value)));
  return buffer;
}

// The image name of `pid` in a process snapshot, as ASCII ('?' for other
// letters), or "?" when no such process is listed.
std::string ImageOf(HANDLE snapshot, DWORD pid) {
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID != pid) continue;
    std::string name;
    for (const wchar_t* c = entry.szExeFile; *c; ++c) name += *c < 0x80 ? char(*c) : '?';
    return name;
  }
  return "?";
}

// "parent=IMAGE ppid=N" for the process that started this one: who started
// Lexoria is who it runs as (the setup itself, or the desktop shell).
std::string ParentDetail() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return "parent=? snapshot-error=" + std::to_string(GetLastError());
  }
  DWORD parent = 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  std::string detail = "parent=" + ImageOf(snapshot, parent) + " ppid=" + std::to_string(parent);
  CloseHandle(snapshot);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  BOOL member = FALSE;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
    CheckTokenMembership(nullptr, administrators, &member);
  }
  return detail + " admin=" + (member ? "1" : "0");
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SHOWWINDOW:
      Log(wparam ? "shown" : "hidden");
      break;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) Log("activated");
      break;
    case WM_CLOSE:
      Log("WM_CLOSE");
      break;  // DefWindowProc destroys the window.
    case WM_DESTROY:
      Log("destroyed");
      g_destroyed = true;
      return 0;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

bool CreateMainWindow(HINSTANCE instance) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(/*hInstance=*/nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassA(&wc);
  // No WS_VISIBLE: the window stays hidden until someone shows it.
  g_window = CreateWindowExA(0, kWindowClass, "Lexoria", WS_OVERLAPPEDWINDOW, 100, 100, 400, 300,
                             /*hWndParent=*/nullptr, /*hMenu=*/nullptr, instance,
                             /*lpParam=*/nullptr);
  return g_window != nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_dir = ExeDir();
  g_log = CreateFileA((g_dir + "standin.log").c_str(), FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      /*lpSecurityAttributes=*/nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      /*hTemplateFile=*/nullptr);
  Log("started " + ParentDetail());
  Log(std::string("cmdline ") + GetCommandLineA());
  char cwd[MAX_PATH * 4] = {};
  GetCurrentDirectoryA(sizeof(cwd), cwd);
  Log(std::string("cwd ") + cwd);

  std::map<std::string, std::string> config = ReadConfig(g_dir + "standin.cfg");
  for (const auto& [key, value] : config) Log("config " + key + "=" + value);
  const DWORD marker_delay = Number(config, "marker_delay_ms", 0);
  const DWORD window_delay = Number(config, "window_delay_ms", 0);
  const bool want_marker = Number(config, "marker", 1) != 0;
  const bool want_window = Number(config, "window", 1) != 0;
  const bool ignore_quit = Number(config, "ignore_quit", 0) != 0;
  const DWORD quit_delay = Number(config, "quit_delay_ms", 0);
  const DWORD lifetime = Number(config, "lifetime_ms", 0);

  HANDLE held = INVALID_HANDLE_VALUE;
  if (auto it = config.find("hold"); it != config.end()) {
    // Read sharing only: the setup can read the file but neither write,
    // replace nor delete it while this handle is open.
    held = CreateFileA((g_dir + it->second).c_str(), GENERIC_READ, FILE_SHARE_READ,
                       /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       /*hTemplateFile=*/nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      Log("hold-failed " + it->second + " error=" + std::to_string(GetLastError()));
    } else {
      Log("holding " + it->second);
    }
  }

  const DWORD start = GetTickCount();
  const DWORD marker_at = marker_delay;
  const DWORD window_at = marker_delay + window_delay;
  HANDLE mapping = nullptr;
  bool marker_done = !want_marker;
  bool window_done = !want_window;
  UINT_PTR poll = SetTimer(/*hWnd=*/nullptr, 0, kPollMs, /*lpTimerFunc=*/nullptr);

  // Runs the timed steps that are due; called at start and on every tick.
  auto step = [&]() {
    DWORD elapsed = GetTickCount() - start;
    if (!marker_done && elapsed >= marker_at) {
      marker_done = true;
      mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, /*lpFileMappingAttributes=*/nullptr,
                                   PAGE_READWRITE, 0, 64, kMappingName);
      if (mapping) {
        Log("marker");
      } else {
        Log("marker-failed error=" + std::to_string(GetLastError()));
      }
    }
    if (!window_done && (marker_done || !want_marker) && elapsed >= window_at) {
      window_done = true;
      if (CreateMainWindow(instance)) {
        Log("window hwnd=" + HexNumber(g_window));
      } else {
        Log("window-failed error=" + std::to_string(GetLastError()));
      }
    }
    if (g_window) {
      bool foreground = GetForegroundWindow() == g_window;
      if (foreground && !g_was_foreground) Log("foreground");
      g_was_foreground = foreground;
    }
  };
  step();

  MSG msg;
  for (;;) {
    BOOL got = GetMessageA(&msg, /*hWnd=*/nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      Log("WM_QUIT wparam=" + std::to_string(msg.wParam));
      if (!ignore_quit) {
        if (quit_delay) Sleep(quit_delay);
        break;
      }
      Log("quit-ignored");
      continue;
    }
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == poll) {
      step();
      if (GetFileAttributesA((g_dir + "standin.stop").c_str()) != INVALID_FILE_ATTRIBUTES) {
        Log("stop-file");
        break;
      }
      if (lifetime && GetTickCount() - start >= lifetime) {
        Log("lifetime");
        break;
      }
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    if (g_destroyed) break;
  }
  Log("exit");
  if (mapping) CloseHandle(mapping);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (g_log != INVALID_HANDLE_VALUE) CloseHandle(g_log);
  return 0;
}
