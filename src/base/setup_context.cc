#include "base/setup_context.h"

namespace lexoria {

void EnsureTrailingBackslash(std::string& path) {
  if (!path.empty() && path.back() != '\\') path.push_back('\\');
}

}  // namespace lexoria
