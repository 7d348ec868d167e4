// The one command line the client reads: the updater's report that it could
// not install a version. The updater starts the client it falls back to as
//   "<client>" /updatefailed=<5-byte version> /reason=<write|replace|start>
// and the client then does not download that version again in this run and
// tells the user why, once. Any other command line is ignored.
#pragma once

#include <string>

#include "toolkit/Language.h"

namespace kivo::app {

enum class UpdateFailureReason {
  kNone,
  kWrite,    // the new client could not be written beside the old one
  kReplace,  // the old client could not be replaced (held or read-only)
  kStart,    // the new client did not come up; the old one was put back
};

struct UpdateFailure {
  std::string version;  // the 5-byte version that failed, "" for none
  UpdateFailureReason reason = UpdateFailureReason::kNone;

  bool Failed() const noexcept { return reason != UpdateFailureReason::kNone; }
};

// Reads a whole command line (as GetCommandLineW returns it: the program,
// quoted or not, then its arguments). Exactly the two arguments above, in
// that order, with a version of five printable ASCII characters and a known
// reason, make a failure; anything else makes none.
UpdateFailure ParseUpdateFailure(const std::wstring& commandLine);

// The message the user is shown once, in `texts`'s language: which version
// could not be installed, why, and that it is tried again at the next start.
std::wstring UpdateFailureMessage(const UpdateFailure& failure, const toolkit::TextSet& texts);

}  // namespace kivo::app
