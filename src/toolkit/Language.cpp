#include "Language.h"

namespace kivo::toolkit {

Language LanguageOfSystem(LANGID systemLanguage) noexcept {
  return systemLanguage == 2052 || systemLanguage == 4100 ? Language::Chinese : Language::English;
}

}  // namespace kivo::toolkit
