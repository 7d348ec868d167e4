// The service's fixed catalogue of six servers in three provider groups, the
// rule that turns a list entry into a server name, and the texts of a
// measurement.
#pragma once

#include <windows.h>

#include <array>
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

// A group's caption in the string table.
UINT GroupCaptionId(IspGroup group) noexcept;

// The server name of a list entry: its text before the first "(". An entry
// without one (a group caption) has the empty name.
std::wstring EntryName(const std::wstring& entryText);

// "(--%dms)" for a round trip.
std::wstring DelayAnnotation(int roundTripMs);

// The performance value of a server measured with fifty echoes (smaller is
// better): "N/A" for no answer, else the value with two decimals.
std::wstring FormatPerformanceValue(float averageMs, int percent);

}  // namespace kivo::servers
