#include "Language.h"

#include "Strings.h"

namespace kivo::toolkit {

Language LanguageOfSystem(LANGID systemLanguage) noexcept {
  switch (systemLanguage) {
    case 2052:
    case 4100:
      return Language::SimplifiedChinese;
    case 1028:
    case 3076:
    case 5124:
      return Language::TraditionalChinese;
    default:
      return Language::English;
  }
}

LANGID TableLanguage(Language language) noexcept {
  switch (language) {
    case Language::SimplifiedChinese:
      return MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    case Language::TraditionalChinese:
      return MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
    case Language::English:
      break;
  }
  return MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

std::wstring TextSet::Text(UINT id) const { return LoadResString(id, TableLanguage(language_)); }

}  // namespace kivo::toolkit
