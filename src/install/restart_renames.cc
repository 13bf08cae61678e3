#include "install/restart_renames.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/scoped_handles.h"
#include "system/command_line.h"

namespace lexoria {

namespace {

// Where Windows keeps the renames it makes at its next restart.
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenamesValue[] = "PendingFileRenameOperations";
// More than any real list of renames; a larger value is not read.
constexpr uint32_t kMaxPendingRenamesSize = 4u << 20;

}  // namespace

bool RenameIsQueued(platform::Registry& registry, const std::string& from, const std::string& to) {
  platform::HKey opened = platform::kNullHandle;
  if (registry.RegOpenKeyExA(platform::kHkeyLocalMachine, kSessionManagerKey, /*options=*/0,
                             platform::kKeyQueryValue,
                             &opened) != static_cast<long>(platform::kErrorSuccess)) {
    return false;
  }
  const platform::ScopedKey key(registry, opened);
  uint32_t type = 0;
  uint32_t size = 0;
  std::string data;
  long result = registry.RegQueryValueExA(key.get(), kPendingRenamesValue, &type, nullptr, &size);
  if (result == static_cast<long>(platform::kErrorSuccess) && type == platform::kRegMultiSz &&
      size > 0 && size <= kMaxPendingRenamesSize) {
    data.resize(size);
    result = registry.RegQueryValueExA(key.get(), kPendingRenamesValue, &type,
                                       reinterpret_cast<uint8_t*>(data.data()), &size);
    data.resize(result == static_cast<long>(platform::kErrorSuccess)
                    ? std::min<size_t>(size, data.size())
                    : 0);
  }
  std::vector<std::string> names;
  for (size_t start = 0; start < data.size();) {
    size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    names.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  const std::string source = LowerAsciiLetters("\\??\\" + from);
  const std::string target = LowerAsciiLetters("!\\??\\" + to);
  for (size_t i = 0; i + 1 < names.size(); i += 2) {
    if (LowerAsciiLetters(names[i]) == source && LowerAsciiLetters(names[i + 1]) == target) {
      return true;
    }
  }
  return false;
}

}  // namespace lexoria
