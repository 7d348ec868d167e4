#include "servers/ServerCatalogue.h"

#include "ServiceEndpoints.h"
#include "toolkit/Strings.h"

namespace kivo::servers {

const std::array<CatalogueServer, 6>& ServerCatalogue() {
  namespace ep = kivo::endpoints;
  // "电信1", "电信2", "网通1", "网通2", "其它1", "其它2" in GBK.
  static const std::array<CatalogueServer, 6> catalogue = {{
      {IspGroup::CT, "\xB5\xE7\xD0\xC5\x31", "CT1", ep::kServerCT1},
      {IspGroup::CT, "\xB5\xE7\xD0\xC5\x32", "CT2", ep::kServerCT2},
      {IspGroup::CNC, "\xCD\xF8\xCD\xA8\x31", "CNC1", ep::kServerCNC1},
      {IspGroup::CNC, "\xCD\xF8\xCD\xA8\x32", "CNC2", ep::kServerCNC2},
      {IspGroup::Other, "\xC6\xE4\xCB\xFC\x31", "Other1", ep::kServerOther1},
      {IspGroup::Other, "\xC6\xE4\xCB\xFC\x32", "Other2", ep::kServerOther2},
  }};
  return catalogue;
}

const char* GroupCaption(IspGroup group, toolkit::Language language) noexcept {
  const bool chinese = language == toolkit::Language::Chinese;
  switch (group) {
    case IspGroup::CT:
      return chinese ? "\xB5\xE7\xD0\xC5" : "CT";
    case IspGroup::CNC:
      return chinese ? "\xCD\xF8\xCD\xA8" : "CNC";
    case IspGroup::Other:
      return chinese ? "\xC6\xE4\xCB\xFC" : "Other";
  }
  return "";
}

std::string EntryName(const std::string& entryText) {
  // "(" never occurs as a trail byte of a GBK character, so a byte search
  // finds the real parenthesis.
  size_t paren = entryText.find('(');
  return paren == std::string::npos ? std::string() : entryText.substr(0, paren);
}

std::string DelayAnnotation(int roundTripMs) { return kivo::toolkit::Format("(--%dms)", roundTripMs); }

std::string FormatPerformanceValue(float averageMs, int percent) {
  if (percent == 0) return "N/A";
  const int loss = 100 - percent;
  const double d = averageMs;
  double value;
  if ((loss == 0 || loss == 1) && d <= 50.0f) {
    value = d * static_cast<double>(0.2f);
  } else if (loss <= 5 && d <= 100.0f) {
    value = loss * static_cast<double>(1.5f) + d * static_cast<double>(0.075f) + 10.0f;
  } else {
    value = loss * static_cast<double>(0.6f) + d * static_cast<double>(0.015f) + 25.0f;
  }
  return kivo::toolkit::Format("%.2f", value);
}

}  // namespace kivo::servers
