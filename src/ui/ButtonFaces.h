// The faces of the main dialog's skinned buttons in both text sets: the
// images, and the text the face shows, which becomes the button's window
// text so that screen readers say what the eye sees.
#pragma once

#include <windows.h>

#include "resource.h"

struct ButtonFace {
  UINT normal;
  UINT hover;
  UINT disabled;     // 0: none
  const char* text;  // as the sources write it (UTF-8)
};

struct ButtonFaces {
  ButtonFace chinese;
  ButtonFace english;
};

inline constexpr ButtonFaces kRegisterFaces{{IDB_REGISTER_ZH, IDB_REGISTER_HOVER_ZH, 0, "帐号注册"},
                                            {IDB_REGISTER_EN, IDB_REGISTER_HOVER_EN, 0, "Register"}};
inline constexpr ButtonFaces kAccountStatusFaces{{IDB_STATUS_ZH, IDB_STATUS_HOVER_ZH, 0, "帐号查询"},
                                                 {IDB_STATUS_EN, IDB_STATUS_HOVER_EN, 0, "Account"}};
inline constexpr ButtonFaces kConnectFaces{
    {IDB_CONNECT_ZH, IDB_CONNECT_HOVER_ZH, IDB_CONNECT_DISABLED_ZH, "连 接"},
    {IDB_CONNECT_EN, IDB_CONNECT_HOVER_EN, IDB_CONNECT_DISABLED_EN, "Connect"}};
inline constexpr ButtonFaces kExitFaces{{IDB_EXIT_ZH, IDB_EXIT_HOVER_ZH, 0, "退 出"},
                                        {IDB_EXIT_EN, IDB_EXIT_HOVER_EN, 0, "Exit"}};
inline constexpr ButtonFaces kDisconnectFaces{{IDB_DISCONNECT_ZH, IDB_DISCONNECT_HOVER_ZH, 0, "断 开"},
                                              {IDB_DISCONNECT_EN, IDB_DISCONNECT_HOVER_EN, 0, "Disconnect"}};
inline constexpr ButtonFaces kNetPerfFaces{{IDB_NETPERF_ZH, IDB_NETPERF_HOVER_ZH, 0, "网络性能"},
                                           {IDB_NETPERF_EN, IDB_NETPERF_HOVER_EN, 0, "Network"}};
inline constexpr ButtonFaces kAboutFaces{{IDB_ABOUT_BTN_ZH, IDB_ABOUT_BTN_HOVER_ZH, 0, "关 于"},
                                         {IDB_ABOUT_BTN_EN, IDB_ABOUT_BTN_HOVER_EN, 0, "About"}};
