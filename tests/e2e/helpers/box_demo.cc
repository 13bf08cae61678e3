// box_demo: shows one message box the way the setup does and prints what the
// box returned, so the end-to-end machinery can be checked against it.
//
// Usage:
//   box_demo.exe a FLAGS CAPTION TEXT          MessageBoxA(NULL, TEXT, CAPTION, FLAGS)
//   box_demo.exe ex FLAGS CAPTION TEXT LANGID  MessageBoxExA(NULL, ..., FLAGS, LANGID)
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

int Usage() {
  fprintf(stderr, "usage: box_demo a|ex FLAGS CAPTION_HEX TEXT_HEX [LANGID]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
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
