// The network performance dialog.
#include <gtest/gtest.h>

#include "ui/NetPerfDlg.h"

namespace {

// Traditional Chinese systems (variants 2 to 4, code page 950) have an
// English main window; GBK texts would be nonsense there.
TEST(PerformanceDialog, FollowsTheMainWindowsLanguage) {
  for (int variant = 0; variant <= 6; ++variant) {
    CNetPerfDlg dialog(nullptr);
    dialog.SetLanguage(variant);
    EXPECT_EQ(dialog.ShowsChinese(), variant == 1 || variant == 5) << variant;
  }
}

}  // namespace
