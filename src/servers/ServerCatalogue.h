// The service's fixed catalogue of six servers in three provider groups, the
// rule that turns a list entry into a server name, and the texts of a
// measurement.
#pragma once

#include <array>
#include <string>

namespace kivo::servers {

enum class IspGroup { CT = 1, CNC = 2, Other = 3 };

struct CatalogueServer {
  IspGroup group;
  const char* nameChinese;  // GBK bytes
  const char* nameEnglish;
  const char* address;
};

// The language variant of the system's default language (0 to 6) names the
// Chinese text set for 1 (2052) and 5 (4100) only; the server names, the
// main window and the performance dialog all follow it.
inline bool IsChineseVariant(int variant) noexcept { return variant == 1 || variant == 5; }

// The six servers in catalogue order: CT1, CT2, CNC1, CNC2, Other1, Other2.
const std::array<CatalogueServer, 6>& ServerCatalogue();

// Group captions, GBK bytes for the Chinese set.
const char* GroupCaption(IspGroup group, bool chinese) noexcept;

// The server name of a list entry: its text before the first "(". An entry
// without one (a group caption) has the empty name.
std::string EntryName(const std::string& entryText);

// "(--%dms)" for a round trip.
std::string DelayAnnotation(int roundTripMs);

// The performance value of a server measured with fifty echoes (smaller is
// better): "N/A" for no answer, else the value with two decimals.
std::string FormatPerformanceValue(float averageMs, int percent);

}  // namespace kivo::servers
