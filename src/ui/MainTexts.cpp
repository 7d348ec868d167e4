#include "ui/MainTexts.h"

#include "ServiceEndpoints.h"
#include "resource.h"
#include "toolkit/Strings.h"

using kivo::toolkit::Language;

MainTexts MainTexts::Load(Language language) {
  const bool zh = language == Language::Chinese;
  // Chinese texts as the sources write them (UTF-8), English ones as shown.
  auto pick = [zh](const char* chinese, const char* english) {
    return zh ? kivo::toolkit::Gbk(chinese) : std::string(english);
  };
  auto paired = [language](UINT englishId) {
    return kivo::toolkit::LoadResString(kivo::toolkit::PairedTextId(englishId, language));
  };

  MainTexts t;
  t.errUnknownRas = paired(IDS_ERR_UNKNOWN_RAS_EN);
  t.errCodeFormat = paired(IDS_ERR_CODE_FORMAT_EN);
  t.dialFailed = paired(IDS_DIAL_FAILED_EN);
  t.errSetPhonebook = paired(IDS_ERR_SET_PHONEBOOK_EN);
  t.errTestPhonebook = paired(IDS_ERR_TEST_PHONEBOOK_EN);
  t.errOpenPhonebook = paired(IDS_ERR_OPEN_PHONEBOOK_EN);
  t.failSuffix = paired(IDS_FAIL_SUFFIX_EN);
  t.trayTipFormat =
      pick("Kivoline 连接\n速度: %.2f Mbps\n发送: %u 字节\n收到: %u 字节\nIP:   %s\n",
           "Kivoline Connection\nSpeed: %.2f Mbps\nSend: %u byte\nReceive: %u byte\nIP:   %s\n");
  t.connected = pick("连接成功", "Connected");
  t.alreadyRunning = pick("已经运行", "Alreadly Running");
  t.showWindow = pick("显示窗口...", "Show...");
  t.controls = {{IDC_USER_LABEL, pick("用 户：", "User :")},
                {IDC_PASSWORD_LABEL, pick("密 码：", "Password :")},
                {IDC_STATUS_LABEL, pick("状 态：", "Status :")},
                {IDC_INTELLIGENT, pick("智能检测", "Intelligent")},
                {IDC_WEB_ADDRESS, kivo::endpoints::kMakerUrl}};
  t.trayMenuId = zh ? IDR_TRAY_MENU_ZH : IDR_TRAY_MENU_EN;
  t.aboutBoxId = zh ? IDD_ABOUTBOX_ZH : IDD_ABOUTBOX_EN;
  return t;
}
