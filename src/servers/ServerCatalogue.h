// The service's fixed catalogue of six servers in three provider groups, the
// rule that turns a list entry into a server name, and the texts of a
// measurement.
#pragma once

#include <array>
#include <string>

#include "toolkit/Language.h"

namespace kivo::servers {

enum class IspGroup { CT = 1, CNC = 2, Other = 3 };

struct CatalogueServer {
  IspGroup group;
  const char* nameChinese;  // GBK bytes
  const char* nameEnglish;
  const char* address;

  const char* Name(toolkit::Language language) const noexcept {
    return language == toolkit::Language::Chinese ? nameChinese : nameEnglish;
  }
};

// The six servers in catalogue order: CT1, CT2, CNC1, CNC2, Other1, Other2.
const std::array<CatalogueServer, 6>& ServerCatalogue();

// Group captions, GBK bytes for the Chinese set.
const char* GroupCaption(IspGroup group, toolkit::Language language) noexcept;

// The server name of a list entry: its text before the first "(". An entry
// without one (a group caption) has the empty name.
std::string EntryName(const std::string& entryText);

// "(--%dms)" for a round trip.
std::string DelayAnnotation(int roundTripMs);

// The performance value of a server measured with fifty echoes (smaller is
// better): "N/A" for no answer, else the value with two decimals.
std::string FormatPerformanceValue(float averageMs, int percent);

}  // namespace kivo::servers
