// The program's three text sets, the rule that picks one from the system's
// language, and the object that hands the chosen set's texts to everyone.
#pragma once

#include <windows.h>

#include <string>

namespace kivo::toolkit {

enum class Language { English, SimplifiedChinese, TraditionalChinese };

// Simplified Chinese for the systems whose default language is 2052 (PRC)
// or 4100 (Singapore); Traditional Chinese for 1028 (Taiwan), 3076 (Hong
// Kong) and 5124 (Macau); English for every other.
Language LanguageOfSystem(LANGID systemLanguage) noexcept;

// The language of the string table that holds a set: en-US, zh-CN, zh-TW.
LANGID TableLanguage(Language language) noexcept;

// The texts of one set. The program decides its language once, at start,
// and hands this object to every window, the connection and the tray;
// nothing else asks the system.
class TextSet {
 public:
  explicit TextSet(Language language) noexcept : language_(language) {}

  Language Lang() const noexcept { return language_; }
  bool IsChinese() const noexcept { return language_ != Language::English; }
  // The string-table entry `id` in this set; empty when there is none.
  std::wstring Text(UINT id) const;
  // Of three resources that exist once per set (a menu, a template, a
  // picture), the one of this set.
  UINT Pick(UINT simplified, UINT traditional, UINT english) const noexcept {
    switch (language_) {
      case Language::SimplifiedChinese:
        return simplified;
      case Language::TraditionalChinese:
        return traditional;
      case Language::English:
        break;
    }
    return english;
  }

 private:
  Language language_;
};

}  // namespace kivo::toolkit
