// Directory names handed over from the Linux side. Under Wine the Unix root
// is drive Z:, so "/tmp/run" is reached as "Z:\tmp\run".
#pragma once

#include <string>

namespace kivo::rasdouble {

inline std::string ToWindowsPath(std::string path) {
  if (!path.empty() && path.front() == '/') path.insert(0, "Z:");
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  // "Z:\" keeps its backslash; "Z:\tmp\run\" loses the trailing one.
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace kivo::rasdouble
