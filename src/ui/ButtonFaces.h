// The faces of the main dialog's skinned buttons in the three text sets:
// the images, and the text the face shows, which becomes the button's
// window text so that screen readers say what the eye sees.
#pragma once

#include <windows.h>

#include "resource.h"
#include "toolkit/Language.h"

namespace kivo::ui {

struct ButtonImages {
  UINT normal;
  UINT hover;
  UINT disabled;  // 0: none
};

struct ButtonFaces {
  ButtonImages simplified;
  ButtonImages traditional;
  ButtonImages english;
  UINT textId;  // what the face says, in every set

  const ButtonImages& Of(kivo::toolkit::Language language) const noexcept {
    switch (language) {
      case kivo::toolkit::Language::SimplifiedChinese:
        return simplified;
      case kivo::toolkit::Language::TraditionalChinese:
        return traditional;
      case kivo::toolkit::Language::English:
        break;
    }
    return english;
  }
};

inline constexpr ButtonFaces kRegisterFaces{{IDB_REGISTER_ZH, IDB_REGISTER_HOVER_ZH, 0},
                                            {IDB_REGISTER_TW, IDB_REGISTER_HOVER_TW, 0},
                                            {IDB_REGISTER_EN, IDB_REGISTER_HOVER_EN, 0},
                                            IDS_FACE_REGISTER};
inline constexpr ButtonFaces kAccountStatusFaces{{IDB_STATUS_ZH, IDB_STATUS_HOVER_ZH, 0},
                                                 {IDB_STATUS_TW, IDB_STATUS_HOVER_TW, 0},
                                                 {IDB_STATUS_EN, IDB_STATUS_HOVER_EN, 0},
                                                 IDS_FACE_ACCOUNT};
inline constexpr ButtonFaces kConnectFaces{{IDB_CONNECT_ZH, IDB_CONNECT_HOVER_ZH, IDB_CONNECT_DISABLED_ZH},
                                           {IDB_CONNECT_TW, IDB_CONNECT_HOVER_TW, IDB_CONNECT_DISABLED_TW},
                                           {IDB_CONNECT_EN, IDB_CONNECT_HOVER_EN, IDB_CONNECT_DISABLED_EN},
                                           IDS_FACE_CONNECT};
inline constexpr ButtonFaces kExitFaces{{IDB_EXIT_ZH, IDB_EXIT_HOVER_ZH, 0},
                                        {IDB_EXIT_TW, IDB_EXIT_HOVER_TW, 0},
                                        {IDB_EXIT_EN, IDB_EXIT_HOVER_EN, 0},
                                        IDS_FACE_EXIT};
inline constexpr ButtonFaces kDisconnectFaces{{IDB_DISCONNECT_ZH, IDB_DISCONNECT_HOVER_ZH, 0},
                                              {IDB_DISCONNECT_TW, IDB_DISCONNECT_HOVER_TW, 0},
                                              {IDB_DISCONNECT_EN, IDB_DISCONNECT_HOVER_EN, 0},
                                              IDS_FACE_DISCONNECT};
inline constexpr ButtonFaces kNetPerfFaces{{IDB_NETPERF_ZH, IDB_NETPERF_HOVER_ZH, 0},
                                           {IDB_NETPERF_TW, IDB_NETPERF_HOVER_TW, 0},
                                           {IDB_NETPERF_EN, IDB_NETPERF_HOVER_EN, 0},
                                           IDS_FACE_NETPERF};
inline constexpr ButtonFaces kAboutFaces{{IDB_ABOUT_BTN_ZH, IDB_ABOUT_BTN_HOVER_ZH, 0},
                                         {IDB_ABOUT_BTN_TW, IDB_ABOUT_BTN_HOVER_TW, 0},
                                         {IDB_ABOUT_BTN_EN, IDB_ABOUT_BTN_HOVER_EN, 0},
                                         IDS_FACE_ABOUT};

}  // namespace kivo::ui
