// The service's fixed catalogue of six servers in three provider groups,
// known everywhere by their index in it, and the texts of a measurement.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "toolkit/Language.h"

namespace kivo::servers {

enum class IspGroup { CT = 1, CNC = 2, Other = 3 };

struct CatalogueServer {
  IspGroup group;
  UINT nameId;          // the server's name in the string table
  const char* address;  // dotted IPv4, as the prober and the dialler take it

  std::wstring Name(const toolkit::TextSet& texts) const { return texts.Text(nameId); }
};

// The six servers in catalogue order: CT1, CT2, CNC1, CNC2, Other1, Other2.
const std::array<CatalogueServer, 6>& ServerCatalogue();

// The catalogue index that a list item's data holds; none for any other
// value (a group caption's).
std::optional<size_t> CatalogueIndex(LPARAM itemData) noexcept;

// A group's caption in the string table.
UINT GroupCaptionId(IspGroup group) noexcept;

// "(--%dms)" for a round trip.
std::wstring DelayAnnotation(int roundTripMs);

// The performance value of a server measured with fifty echoes (smaller is
// better): "N/A" for no answer, else the value with two decimals.
std::wstring FormatPerformanceValue(float averageMs, int percent);

}  // namespace kivo::servers
