#include "app/UpdateFailure.h"

#include <vector>

#include "resource.h"
#include "toolkit/Strings.h"

namespace kivo::app {
namespace {

constexpr wchar_t kVersionSwitch[] = L"/updatefailed=";
constexpr wchar_t kReasonSwitch[] = L"/reason=";

// The arguments after the program's name, split at spaces and tabs. The
// updater writes none with quotes or spaces in it.
std::vector<std::wstring> Arguments(const std::wstring& line) {
  size_t i = 0;
  if (!line.empty() && line[0] == L'"') {
    const size_t close = line.find(L'"', 1);
    i = close == std::wstring::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
  }
  std::vector<std::wstring> args;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
    if (i > start) args.push_back(line.substr(start, i - start));
  }
  return args;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring& rest) {
  const std::wstring p(prefix);
  if (text.compare(0, p.size(), p) != 0) return false;
  rest = text.substr(p.size());
  return true;
}

}  // namespace

UpdateFailure ParseUpdateFailure(const std::wstring& commandLine) {
  UpdateFailure failure;
  const std::vector<std::wstring> args = Arguments(commandLine);
  std::wstring version, reason;
  if (args.size() != 2 || !StartsWith(args[0], kVersionSwitch, version) ||
      !StartsWith(args[1], kReasonSwitch, reason) || version.size() != 5) {
    return failure;
  }
  for (wchar_t c : version) {
    if (c <= L' ' || c > L'~') return failure;
  }
  UpdateFailureReason parsed = UpdateFailureReason::kNone;
  if (reason == L"write") {
    parsed = UpdateFailureReason::kWrite;
  } else if (reason == L"replace") {
    parsed = UpdateFailureReason::kReplace;
  } else if (reason == L"start") {
    parsed = UpdateFailureReason::kStart;
  } else {
    return failure;
  }
  failure.version.assign(version.begin(), version.end());
  failure.reason = parsed;
  return failure;
}

std::wstring UpdateFailureMessage(const UpdateFailure& failure, const toolkit::TextSet& texts) {
  UINT reasonId = 0;
  switch (failure.reason) {
    case UpdateFailureReason::kWrite:
      reasonId = IDS_UPDATE_REASON_WRITE;
      break;
    case UpdateFailureReason::kReplace:
      reasonId = IDS_UPDATE_REASON_REPLACE;
      break;
    case UpdateFailureReason::kStart:
      reasonId = IDS_UPDATE_REASON_START;
      break;
    case UpdateFailureReason::kNone:
      return std::wstring();
  }
  const std::wstring format = texts.Text(IDS_UPDATE_FAILED);
  const std::wstring why = texts.Text(reasonId);
  return toolkit::Format(format.c_str(), toolkit::WidenAscii(failure.version).c_str(), why.c_str());
}

}  // namespace kivo::app
