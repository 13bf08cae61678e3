// box_robot: watches for message boxes of any process in the Wine prefix,
// records each one once and answers it from a script.
//
// Usage:
//   box_robot.exe LOG SCRIPT STOPFILE READYFILE [--default=WORD]
//                 [--max-seconds=N] [--answer-delay-ms=N]
//
// SCRIPT holds one answer per line, used in the order boxes appear: yes, no,
// ok, cancel, abort, retry, ignore, tryagain, continue (click that button) or
// close (send WM_CLOSE, as the title bar's close button does). Blank lines and
// lines starting with '#' are skipped. Once the script is used up, --default
// applies; "auto" (the default) means ok for a box whose only button is OK,
// else no where there is a No button, else cancel, else the first button.
// When the scripted button is missing from a box, the auto answer is given
// instead and the line shows both (want=yes answer=ok).
//
// The robot polls the top-level windows every 50 ms and treats every visible
// window of class "#32770" with a message text (static control 0xFFFF) as a
// box; other dialogs of that class are logged as "dialog" lines and left alone. It writes READYFILE
// after its first pass and stops when STOPFILE exists or after --max-seconds (default 600).
//
// LOG lines, each written with one WriteFile call before the box is answered:
//   ready
//   box seq=N t=MS tick=MS pid=N exe=HEX hwnd=0xH owner=0xH style=0xH exstyle=0xH
//       topmost=0|1 caption=HEX text=HEX captionw=HEX textw=HEX
//       buttons=ID:HEX,ID:HEX buttonsw=ID:HEX,ID:HEX default=ID icon=KIND
//       icon_by=HOW icon_ms=N want=WORD answer=WORD
//   dialog seq=N t=MS pid=N exe=HEX hwnd=0xH caption=HEX captionw=HEX
//   stop reason=stopfile|timeout seen=N   (boxes and dialogs)
// (a box line is a single line). caption and text are the GetWindowTextA bytes,
// so they are in the ANSI code page of the prefix's locale; captionw and textw
// are the same texts read with GetWindowTextW, as UTF-8; exe is the UTF-8 base
// name of the owning process's image; buttons are the visible "Button"
// children, left to right, with their GetWindowTextA bytes, and buttonsw the
// same buttons with their GetWindowTextW texts as UTF-8; default is the id
// of the button drawn as default (0: none). KIND is hand,
// question, exclamation, asterisk, none (no visible icon) or unknown. HOW
// says how the icon was recognised: handle (STM_GETICON returned one of our
// own LoadIcon handles), pixels (the icon on screen matched one of the system
// icons drawn by the robot) or "-"; icon_ms is how long recognising took.
// t counts from the robot's start, tick is GetTickCount() at the same moment:
// the clock the stand-in Lexoria logs by, so that the two can be ordered. The
// box is answered after the line is written (after --answer-delay-ms).
// want is the scripted word ("-" when the
// default applied). An empty text gives an empty HEX.

#include <windows.h>
//
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kIconTimeoutMs = 3000;
constexpr int kMessageTextId = 0xFFFF;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// Window texts of other processes come from the server-side copy, so a
// hung owner cannot block the robot here.
std::string TextA(HWND hwnd) {
  std::vector<char> buffer(65536);
  int n = GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), n > 0 ? n : 0);
}

std::wstring TextW(HWND hwnd) {
  std::vector<wchar_t> buffer(65536);
  int n = GetWindowTextW(hwnd, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), n > 0 ? n : 0);
}

std::string ClassName(HWND hwnd) {
  char name[256] = {};
  int n = GetClassNameA(hwnd, name, sizeof(name));
  return std::string(name, n > 0 ? n : 0);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  size_t end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

// Appends lines to the log; every line goes out in one WriteFile so a reader
// polling the file never sees half a line, and nothing is buffered here.
class Log {
 public:
  explicit Log(const std::wstring& path) {
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        /*hTemplateFile=*/nullptr);
  }
  ~Log() {
    if (ok()) CloseHandle(file_);
  }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  bool ok() const { return file_ != INVALID_HANDLE_VALUE; }

  void Line(const std::string& line) {
    std::string data = line + "\n";
    DWORD written = 0;
    WriteFile(file_, data.data(), static_cast<DWORD>(data.size()), &written,
              /*lpOverlapped=*/nullptr);
    FlushFileBuffers(file_);
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

struct Answer {
  const char* word;
  int id;  // 0: close the box with WM_CLOSE.
};

constexpr Answer kAnswers[] = {
    {"ok", IDOK},
    {"cancel", IDCANCEL},
    {"abort", IDABORT},
    {"retry", IDRETRY},
    {"ignore", IDIGNORE},
    {"yes", IDYES},
    {"no", IDNO},
    {"close", 0},
    {"tryagain", IDTRYAGAIN},
    {"continue", IDCONTINUE},
};

std::optional<int> AnswerId(const std::string& word) {
  for (const Answer& answer : kAnswers) {
    if (word == answer.word) return answer.id;
  }
  return std::nullopt;
}

std::string AnswerWord(int id) {
  for (const Answer& answer : kAnswers) {
    if (id == answer.id) return answer.word;
  }
  return "id" + std::to_string(id);
}

struct Button {
  int id;
  std::string text;
  std::string text_w;  // UTF-8
  RECT rect;
  HWND hwnd;
};

struct BoxInfo {
  HWND text_static = nullptr;
  HWND icon_static = nullptr;
  std::vector<Button> buttons;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* info = reinterpret_cast<BoxInfo*>(param);
  std::string cls = Lower(ClassName(child));
  int id = GetDlgCtrlID(child) & 0xFFFF;
  LONG style = GetWindowLongW(child, GWL_STYLE);
  if (cls == "static") {
    if (id == kMessageTextId) {
      info->text_static = child;
    } else if ((style & SS_TYPEMASK) == SS_ICON && (style & WS_VISIBLE)) {
      info->icon_static = child;
    }
  } else if (cls == "button" && (style & WS_VISIBLE)) {
    Button button{id, TextA(child), Utf8(TextW(child)), {}, child};
    GetWindowRect(child, &button.rect);
    info->buttons.push_back(button);
  }
  return TRUE;
}

// The system icons a message box can show, loaded in this process. Under Wine
// a shared icon handle is private to the process that loaded it, so comparing
// handles across processes rarely works; the pixels on screen do.
struct IconKind {
  const char* name;
  LPCSTR resource;
  HICON icon;
};

std::vector<IconKind> LoadIconKinds() {
  std::vector<IconKind> kinds = {
      {"hand", IDI_HAND, nullptr},
      {"question", IDI_QUESTION, nullptr},
      {"exclamation", IDI_EXCLAMATION, nullptr},
      {"asterisk", IDI_ASTERISK, nullptr},
  };
  for (IconKind& kind : kinds) kind.icon = LoadIconA(/*hInstance=*/nullptr, kind.resource);
  return kinds;
}

// A top-down 32-bit DIB section with a memory DC selected into it.
class Bitmap {
 public:
  Bitmap(int width, int height) : width_(width), height_(height) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(/*hdc=*/nullptr);
    bitmap_ = CreateDIBSection(dc_, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                               /*hSection=*/nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Bitmap() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  HDC dc() const { return dc_; }
  uint32_t Pixel(int x, int y) const {
    GdiFlush();
    return bits_[y * width_ + x] & 0xFFFFFF;
  }
  void Fill(uint32_t rgb) {
    GdiFlush();
    std::fill(bits_, bits_ + width_ * height_, rgb);
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* bits_ = nullptr;
};

bool Close(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 24; shift += 8) {
    int diff = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (diff > 24 || diff < -24) return false;
  }
  return true;
}

// Compares the icon control as shown on screen with each system icon drawn
// here on the same background. Returns the best kind when at most 3% of the
// pixels differ; an icon not painted yet is uniform and matches nothing.
std::optional<std::string> MatchIconPixels(HWND icon_static, const std::vector<IconKind>& kinds) {
  RECT rect;
  if (!GetWindowRect(icon_static, &rect)) return std::nullopt;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0 || width > 256 || height > 256) return std::nullopt;
  Bitmap shot(width, height);
  HDC screen = GetDC(/*hWnd=*/nullptr);
  BitBlt(shot.dc(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ReleaseDC(/*hWnd=*/nullptr, screen);
  uint32_t background = shot.Pixel(0, 0);
  int total = width * height;
  int best_diff = total + 1;
  const char* best = nullptr;
  for (const IconKind& kind : kinds) {
    if (!kind.icon) continue;
    Bitmap drawn(width, height);
    drawn.Fill(background);
    DrawIconEx(drawn.dc(), 0, 0, kind.icon, width, height, 0, /*hbrFlickerFreeDraw=*/nullptr,
               DI_NORMAL);
    int diff = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!Close(shot.Pixel(x, y), drawn.Pixel(x, y))) ++diff;
      }
    }
    if (diff < best_diff) {
      best_diff = diff;
      best = kind.name;
    }
  }
  if (best && best_diff * 100 <= total * 3) return std::string(best);
  return std::nullopt;
}

struct IconResult {
  std::string kind = "none";
  std::string how = "-";
};

IconResult ClassifyIcon(HWND icon_static, const std::vector<IconKind>& kinds) {
  IconResult result;
  if (!icon_static) return result;
  DWORD_PTR handle = 0;
  if (SendMessageTimeoutW(icon_static, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 500, &handle)) {
    // The icon control is there in every box; it holds no icon when the
    // flags asked for none.
    if (!handle) return result;
    for (const IconKind& kind : kinds) {
      if (reinterpret_cast<HICON>(handle) == kind.icon) {
        result.kind = kind.name;
        result.how = "handle";
        return result;
      }
    }
  }
  // The box may not have painted yet when it first becomes visible; look
  // again until the picture settles on a known icon or time runs out.
  DWORD start = GetTickCount();
  do {
    if (auto kind = MatchIconPixels(icon_static, kinds)) {
      result.kind = *kind;
      result.how = "pixels";
      return result;
    }
    Sleep(kPollMs);
  } while (GetTickCount() - start < kIconTimeoutMs && IsWindow(icon_static));
  result.kind = "unknown";
  return result;
}

std::string ImageName(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return {};
  wchar_t path[MAX_PATH * 4] = {};
  DWORD size = MAX_PATH * 4;
  std::wstring name;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
    name.assign(path, size);
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name = name.substr(slash + 1);
  }
  CloseHandle(process);
  return Utf8(name);
}

std::string HexNumber(uint64_t value) {
  char buffer[32];
  snprintf(buffer, sizeof(buffer), "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

struct Options {
  std::wstring log;
  std::wstring script;
  std::wstring stop_file;
  std::wstring ready_file;
  std::string default_answer = "auto";
  DWORD max_ms = 600 * 1000;
  DWORD answer_delay_ms = 0;
};

std::optional<Options> ParseOptions() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return std::nullopt;
  Options options;
  std::vector<std::wstring> positional;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    std::string narrow = Utf8(arg);
    if (narrow.rfind("--default=", 0) == 0) {
      options.default_answer = Lower(narrow.substr(10));
    } else if (narrow.rfind("--max-seconds=", 0) == 0) {
      options.max_ms = static_cast<DWORD>(strtoul(narrow.c_str() + 14, nullptr, 10) * 1000);
    } else if (narrow.rfind("--answer-delay-ms=", 0) == 0) {
      options.answer_delay_ms = static_cast<DWORD>(strtoul(narrow.c_str() + 18, nullptr, 10));
    } else {
      positional.push_back(arg);
    }
  }
  LocalFree(argv);
  if (positional.size() != 4) return std::nullopt;
  if (options.default_answer != "auto" && !AnswerId(options.default_answer)) return std::nullopt;
  options.log = positional[0];
  options.script = positional[1];
  options.stop_file = positional[2];
  options.ready_file = positional[3];
  return options;
}

std::vector<std::string> ReadScript(const std::wstring& path) {
  std::vector<std::string> answers;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) return answers;
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, /*lpOverlapped=*/nullptr) && read > 0) {
    content.append(buffer, read);
  }
  CloseHandle(file);
  size_t pos = 0;
  while (pos <= content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = Lower(Trim(content.substr(pos, end - pos)));
    if (!line.empty() && line[0] != '#') answers.push_back(line);
    pos = end + 1;
  }
  return answers;
}

int AutoAnswer(const std::vector<Button>& buttons) {
  auto has = [&](int id) {
    return std::any_of(buttons.begin(), buttons.end(), [&](const Button& b) { return b.id == id; });
  };
  if (buttons.size() == 1 && buttons[0].id == IDOK) return IDOK;
  if (has(IDNO)) return IDNO;
  if (has(IDCANCEL)) return IDCANCEL;
  if (!buttons.empty()) return buttons[0].id;
  return 0;
}

class Robot {
 public:
  Robot(const Options& options, Log& log)
      : options_(options),
        log_(log),
        script_(ReadScript(options.script)),
        kinds_(LoadIconKinds()) {}

  // Handles every box that is visible now and has not been seen before.
  void Poll() {
    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    // Forget boxes that are gone, so that a recycled handle counts as new.
    for (auto it = seen_.begin(); it != seen_.end();) {
      it = IsWindow(*it) ? std::next(it) : seen_.erase(it);
    }
    for (HWND box : boxes) {
      if (seen_.insert(box).second) Handle(box);
    }
  }

  int count() const { return count_; }

 private:
  static BOOL CALLBACK CollectBox(HWND hwnd, LPARAM param) {
    if (IsWindowVisible(hwnd) && ClassName(hwnd) == "#32770") {
      reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    }
    return TRUE;
  }

  void Handle(HWND box) {
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    BoxInfo info;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&info));
    // Every message box has its text in the static 0xFFFF; a dialog without
    // one is some other window and is only noted, never answered.
    if (!info.text_static) {
      ++count_;
      log_.Line("dialog seq=" + std::to_string(count_) +
                " t=" + std::to_string(GetTickCount() - start_) + " pid=" + std::to_string(pid) +
                " exe=" + Hex(ImageName(pid)) +
                " hwnd=" + HexNumber(reinterpret_cast<uintptr_t>(box)) +
                " caption=" + Hex(TextA(box)) + " captionw=" + Hex(Utf8(TextW(box))));
      return;
    }
    std::sort(info.buttons.begin(), info.buttons.end(), [](const Button& a, const Button& b) {
      return a.rect.top != b.rect.top ? a.rect.top < b.rect.top : a.rect.left < b.rect.left;
    });
    DWORD icon_start = GetTickCount();
    IconResult icon = ClassifyIcon(info.icon_static, kinds_);
    DWORD icon_ms = GetTickCount() - icon_start;
    LONG_PTR exstyle = GetWindowLongPtrW(box, GWL_EXSTYLE);
    LONG_PTR style = GetWindowLongPtrW(box, GWL_STYLE);
    // DM_GETDEFID would answer from the dialog template; the box marks its
    // default button by style instead.
    int default_button = 0;
    for (const Button& button : info.buttons) {
      if ((GetWindowLongW(button.hwnd, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
        default_button = button.id;
      }
    }

    std::string want = "-";
    std::optional<int> chosen;
    std::string fallback = options_.default_answer;
    if (next_ < script_.size()) {
      want = script_[next_++];
      chosen = AnswerId(want);
    } else if (fallback != "auto") {
      chosen = AnswerId(fallback);
    }
    auto present = [&](int id) {
      return id == 0 || std::any_of(info.buttons.begin(), info.buttons.end(),
                                    [&](const Button& b) { return b.id == id; });
    };
    int answer = chosen && present(*chosen) ? *chosen : AutoAnswer(info.buttons);

    std::string buttons;
    std::string buttons_w;
    for (const Button& button : info.buttons) {
      if (!buttons.empty()) {
        buttons += ",";
        buttons_w += ",";
      }
      buttons += std::to_string(button.id) + ":" + Hex(button.text);
      buttons_w += std::to_string(button.id) + ":" + Hex(button.text_w);
    }
    ++count_;
    std::string line = "box seq=" + std::to_string(count_);
    const DWORD now = GetTickCount();
    line += " t=" + std::to_string(now - start_) + " tick=" + std::to_string(now);
    line += " pid=" + std::to_string(pid);
    line += " exe=" + Hex(ImageName(pid));
    line += " hwnd=" + HexNumber(reinterpret_cast<uintptr_t>(box));
    line += " owner=" + HexNumber(reinterpret_cast<uintptr_t>(GetWindow(box, GW_OWNER)));
    line += " style=" + HexNumber(static_cast<uint32_t>(style));
    line += " exstyle=" + HexNumber(static_cast<uint32_t>(exstyle));
    line += std::string(" topmost=") + ((exstyle & WS_EX_TOPMOST) ? "1" : "0");
    line += " caption=" + Hex(TextA(box));
    line += " text=" + (info.text_static ? Hex(TextA(info.text_static)) : "");
    line += " captionw=" + Hex(Utf8(TextW(box)));
    line += " textw=" + (info.text_static ? Hex(Utf8(TextW(info.text_static))) : "");
    line += " buttons=" + buttons + " buttonsw=" + buttons_w;
    line += " default=" + std::to_string(default_button);
    line += " icon=" + icon.kind + " icon_by=" + icon.how + " icon_ms=" + std::to_string(icon_ms);
    line += " want=" + want + " answer=" + AnswerWord(answer);
    log_.Line(line);

    if (options_.answer_delay_ms) Sleep(options_.answer_delay_ms);
    if (answer == 0) {
      PostMessageW(box, WM_CLOSE, 0, 0);
      return;
    }
    HWND button = nullptr;
    for (const Button& b : info.buttons) {
      if (b.id == answer) button = b.hwnd;
    }
    // A posted WM_COMMAND is what a click ends in; unlike BM_CLICK it needs
    // neither focus nor mouse capture, which another process cannot rely on.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }

  const Options& options_;
  Log& log_;
  std::vector<std::string> script_;
  std::vector<IconKind> kinds_;
  size_t next_ = 0;
  std::set<HWND> seen_;
  int count_ = 0;
  DWORD start_ = GetTickCount();
};

void WriteReadyFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                            /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, "ready\n", 6, &written, /*lpOverlapped=*/nullptr);
  CloseHandle(file);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::optional<Options> options = ParseOptions();
  if (!options) return 2;
  Log log(options->log);
  if (!log.ok()) return 3;
  Robot robot(*options, log);
  DWORD start = GetTickCount();
  robot.Poll();
  log.Line("ready");
  WriteReadyFile(options->ready_file);
  const char* reason = "timeout";
  while (GetTickCount() - start < options->max_ms) {
    if (FileExists(options->stop_file)) {
      reason = "stopfile";
      break;
    }
    Sleep(kPollMs);
    robot.Poll();
  }
  log.Line(std::string("stop reason=") + reason + " seen=" + std::to_string(robot.count()));
  return 0;
}
