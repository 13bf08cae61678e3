// box_demo: shows one message box the way the setup does and prints what the
// box returned, so the end-to-end machinery can be checked against it.
//
// Usage:
//   box_demo.exe a FLAGS CAPTION TEXT          MessageBoxA(NULL, TEXT, CAPTION, FLAGS)
//   box_demo.exe ex FLAGS CAPTION TEXT LANGID  MessageBoxExA(NULL, ..., FLAGS, LANGID)
//   box_demo.exe dialog MS   a dialog of class #32770 that is no message box,
//                            shown for MS milliseconds; prints "disturbed=N",
//                            the WM_COMMAND and WM_CLOSE messages it received
//
// FLAGS and LANGID are numbers (0x prefix for hex). CAPTION and TEXT are the
// bytes to pass, hex-encoded, so any code page survives the command line.
// Prints "result=N" (the box's return value) and "error=N" (GetLastError
// after the call) on stdout; exits with the result, or 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::optional<std::string> Unhex(const char* hex) {
  std::string out;
  std::string digits(hex);
  if (digits == "-") return out;
  if (digits.size() % 2) return std::nullopt;
  for (size_t i = 0; i < digits.size(); i += 2) {
    char pair[3] = {digits[i], digits[i + 1], 0};
    char* end = nullptr;
    long value = strtol(pair, &end, 16);
    if (*end) return std::nullopt;
    out.push_back(static_cast<char>(value));
  }
  return out;
}

int g_disturbed = 0;

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM, LPARAM) {
  if (message == WM_COMMAND || message == WM_CLOSE) {
    ++g_disturbed;
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

// A captioned dialog without controls, like a progress window built from a
// dialog template.
int ShowPlainDialog(DWORD ms) {
  struct alignas(4) {
    DLGTEMPLATE header;
    WORD menu, window_class, title[9];
  } tmpl = {};
  tmpl.header.style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME;
  tmpl.header.cx = 160;
  tmpl.header.cy = 40;
  const wchar_t kTitle[] = L"Progress";
  for (int i = 0; i < 9; ++i) tmpl.title[i] = kTitle[i];
  HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &tmpl.header,
                                           /*hWndParent=*/nullptr, DialogProc, 0);
  if (!dialog) return 3;
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < ms) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageW(dialog, &msg)) DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  DestroyWindow(dialog);
  printf("disturbed=%d\n", g_disturbed);
  fflush(stdout);
  return 0;
}

int Usage() {
  fprintf(stderr, "usage: box_demo a|ex FLAGS CAPTION_HEX TEXT_HEX [LANGID] | dialog MS\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "dialog") {
    return ShowPlainDialog(static_cast<DWORD>(strtoul(argv[2], nullptr, 10)));
  }
  if (argc < 5) return Usage();
  std::string mode = argv[1];
  UINT flags = static_cast<UINT>(strtoul(argv[2], nullptr, 0));
  std::optional<std::string> caption = Unhex(argv[3]);
  std::optional<std::string> text = Unhex(argv[4]);
  if (!caption || !text) return Usage();
  int result = 0;
  if (mode == "a" && argc == 5) {
    result = MessageBoxA(/*hWnd=*/nullptr, text->c_str(), caption->c_str(), flags);
  } else if (mode == "ex" && argc == 6) {
    WORD language = static_cast<WORD>(strtoul(argv[5], nullptr, 0));
    result = MessageBoxExA(/*hWnd=*/nullptr, text->c_str(), caption->c_str(), flags, language);
  } else {
    return Usage();
  }
  DWORD error = GetLastError();
  printf("result=%d\nerror=%lu\n", result, error);
  fflush(stdout);
  return result;
}
