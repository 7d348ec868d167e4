// The program's two text sets, which one the system asks for, and how a
// text of either set is found in the string table.
#pragma once

#include <windows.h>

namespace kivo::toolkit {

enum class Language { English, Chinese };

// Chinese (GBK) for the systems whose default language is 2052 (PRC) or
// 4100 (Singapore); English for every other, the Traditional Chinese systems
// (code page 950, where GBK texts would be nonsense) included.
Language LanguageOfSystem(LANGID systemLanguage) noexcept;
inline Language SystemLanguage() noexcept { return LanguageOfSystem(::GetSystemDefaultLangID()); }

// The message texts come in pairs: the Chinese entry's id is the English
// entry's id minus one.
inline UINT PairedTextId(UINT englishId, Language language) noexcept {
  return language == Language::Chinese ? englishId - 1 : englishId;
}

}  // namespace kivo::toolkit
