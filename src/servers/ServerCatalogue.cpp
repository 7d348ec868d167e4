#include "servers/ServerCatalogue.h"

#include "ServiceEndpoints.h"
#include "resource.h"
#include "toolkit/Strings.h"

namespace kivo::servers {

const std::array<CatalogueServer, 6>& ServerCatalogue() {
  namespace ep = kivo::endpoints;
  static const std::array<CatalogueServer, 6> catalogue = {{
      {IspGroup::CT, IDS_SERVER_FIRST + 0, ep::kServerCT1},
      {IspGroup::CT, IDS_SERVER_FIRST + 1, ep::kServerCT2},
      {IspGroup::CNC, IDS_SERVER_FIRST + 2, ep::kServerCNC1},
      {IspGroup::CNC, IDS_SERVER_FIRST + 3, ep::kServerCNC2},
      {IspGroup::Other, IDS_SERVER_FIRST + 4, ep::kServerOther1},
      {IspGroup::Other, IDS_SERVER_FIRST + 5, ep::kServerOther2},
  }};
  return catalogue;
}

UINT GroupCaptionId(IspGroup group) noexcept {
  switch (group) {
    case IspGroup::CT:
      return IDS_GROUP_CT;
    case IspGroup::CNC:
      return IDS_GROUP_CNC;
    case IspGroup::Other:
      return IDS_GROUP_OTHER;
  }
  return IDS_GROUP_OTHER;
}

std::optional<size_t> CatalogueIndex(LPARAM itemData) noexcept {
  if (itemData < 0 || static_cast<size_t>(itemData) >= ServerCatalogue().size()) return std::nullopt;
  return static_cast<size_t>(itemData);
}

std::wstring DelayAnnotation(int roundTripMs) { return kivo::toolkit::Format(L"(--%dms)", roundTripMs); }

std::wstring FormatPerformanceValue(float averageMs, int percent) {
  if (percent == 0) return L"N/A";
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
  return kivo::toolkit::Format(L"%.2f", value);
}

}  // namespace kivo::servers
