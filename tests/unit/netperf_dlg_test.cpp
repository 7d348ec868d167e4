// The network performance dialog.
#include <gtest/gtest.h>

#include "ui/NetPerfDlg.h"

namespace {

using kivo::toolkit::Language;

// Traditional Chinese systems (3076, 1028, 5124: code page 950) get the
// English texts; GBK texts would be nonsense there.
TEST(Language, ChineseOnlyForTheGbkSystems) {
  for (LANGID id : {2052, 4100}) EXPECT_EQ(kivo::toolkit::LanguageOfSystem(id), Language::Chinese) << id;
  for (LANGID id : {0, 1033, 3076, 1028, 5124, 2057}) {
    EXPECT_EQ(kivo::toolkit::LanguageOfSystem(id), Language::English) << id;
  }
}

TEST(PerformanceDialog, EnglishUnlessGivenTheMainWindowsChinese) {
  CNetPerfDlg dialog(nullptr);
  EXPECT_FALSE(dialog.ShowsChinese());
  dialog.SetLanguage(Language::Chinese);
  EXPECT_TRUE(dialog.ShowsChinese());
}

}  // namespace
