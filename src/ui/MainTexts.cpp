#include "ui/MainTexts.h"

#include "ServiceEndpoints.h"
#include "resource.h"
#include "toolkit/Strings.h"

namespace kivo::ui {

MainTexts MainTexts::Load(const kivo::toolkit::TextSet& texts) {
  MainTexts t;
  t.errUnknownRas = texts.Text(IDS_ERR_UNKNOWN_RAS);
  t.errCodeFormat = texts.Text(IDS_ERR_CODE_FORMAT);
  t.errSetPhonebook = texts.Text(IDS_ERR_SET_PHONEBOOK);
  t.errTestPhonebook = texts.Text(IDS_ERR_TEST_PHONEBOOK);
  t.errOpenPhonebook = texts.Text(IDS_ERR_OPEN_PHONEBOOK);
  t.failSuffix = texts.Text(IDS_FAIL_SUFFIX);
  t.connected = texts.Text(IDS_CONNECTED);
  t.alreadyRunning = texts.Text(IDS_ALREADY_RUNNING_BALLOON);
  t.showWindow = texts.Text(IDS_SHOW_WINDOW);
  t.controls = {{IDC_USER_LABEL, texts.Text(IDS_USER_LABEL)},
                {IDC_PASSWORD_LABEL, texts.Text(IDS_PASSWORD_LABEL)},
                {IDC_STATUS_LABEL, texts.Text(IDS_STATUS_LABEL)},
                {IDC_INTELLIGENT, texts.Text(IDS_INTELLIGENT)},
                {IDC_WEB_ADDRESS, kivo::toolkit::WidenAscii(kivo::endpoints::kMakerUrl)}};
  t.trayMenuId = texts.Pick(IDR_TRAY_MENU_ZH, IDR_TRAY_MENU_TW, IDR_TRAY_MENU_EN);
  t.aboutBoxId = texts.Pick(IDD_ABOUTBOX_ZH, IDD_ABOUTBOX_TW, IDD_ABOUTBOX_EN);
  return t;
}

}  // namespace kivo::ui
