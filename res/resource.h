// Resource ids of KivoVpn.exe, shared by the resource script and the code.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX_ZH 808
#define IDD_MAIN 809
#define IDD_NETPERF 810
#define IDD_ABOUTBOX_EN 811

// Tray popup menus; the id is also the tray icon's identifier
#define IDR_TRAY_MENU_ZH 529
#define IDR_TRAY_MENU_EN 530
#define ID_TRAY_DISCONNECT 32773
#define ID_TRAY_ABOUT 32774
#define ID_TRAY_EXIT 32775
#define ID_TRAY_MINIMIZE 32776

// Icon
#define IDI_KIVO 338

// Bitmaps
#define IDB_ABOUT_ZH 630
#define IDB_ABOUT_EN 631
#define IDB_LOGO 632
#define IDB_ABOUT_BTN_ZH 633
#define IDB_ABOUT_BTN_HOVER_ZH 634
#define IDB_BACKGROUND 642
#define IDB_REGISTER_ZH 647
#define IDB_REGISTER_HOVER_ZH 648
#define IDB_STATUS_ZH 649
#define IDB_STATUS_HOVER_ZH 650
#define IDB_CONNECT_ZH 651
#define IDB_CONNECT_HOVER_ZH 652
#define IDB_CONNECT_DISABLED_ZH 653
#define IDB_EXIT_ZH 654
#define IDB_EXIT_HOVER_ZH 655
#define IDB_DISCONNECT_ZH 656
#define IDB_DISCONNECT_HOVER_ZH 657
#define IDB_NETPERF_ZH 658
#define IDB_NETPERF_HOVER_ZH 659
#define IDB_REGISTER_EN 663
#define IDB_REGISTER_HOVER_EN 664
#define IDB_STATUS_EN 665
#define IDB_STATUS_HOVER_EN 666
#define IDB_CONNECT_EN 667
#define IDB_CONNECT_HOVER_EN 668
#define IDB_CONNECT_DISABLED_EN 669
#define IDB_DISCONNECT_EN 670
#define IDB_DISCONNECT_HOVER_EN 671
#define IDB_EXIT_EN 672
#define IDB_EXIT_HOVER_EN 673
#define IDB_NETPERF_EN 674
#define IDB_NETPERF_HOVER_EN 675
#define IDB_ABOUT_BTN_EN 676
#define IDB_ABOUT_BTN_HOVER_EN 677

// Controls of the main dialog
#define IDC_USER 1001
#define IDC_PASSWORD 1002
#define IDC_STATUS 1003
#define IDC_USER_LABEL 1006
#define IDC_PASSWORD_LABEL 1007
#define IDC_INTELLIGENT 1008
#define IDC_STATUS_LABEL 1009
#define IDC_WEB_ADDRESS 1010
#define IDC_ACCOUNT_REGISTER 1011
#define IDC_ACCOUNT_STATUS 1012
#define IDC_GROUP_CT 1017
#define IDC_GROUP_CNC 1018
#define IDC_GROUP_OTHER 1019
#define IDC_NETPERF 1026
#define IDC_ABOUT 1027

// Controls of the network performance dialog
#define IDC_TEST_AGAIN 1024
#define IDC_SERVER_LIST 1025
#define IDC_STOP_TEST 1026

// Controls of the About boxes
#define IDC_ABOUT_VERSION 1028

// System menu command of the About box
#define IDM_ABOUTBOX 0x0010

// Strings
#define IDS_SOCKET_FAILED_ZH 2
#define IDS_SOCKET_FAILED_EN 3
#define IDS_ABOUTBOX 99
// The texts of the 24 dial states, in the order of the states, in each set
#define IDS_STATE_FIRST_ZH 100
#define IDS_STATE_FIRST_EN 124
// Message texts in pairs: each Chinese text has the id below minus one
#define IDS_ERR_UNKNOWN_RAS_EN 173
#define IDS_ERR_CODE_FORMAT_EN 176
#define IDS_DIAL_FAILED_EN 179
#define IDS_IDLE_EN 182
#define IDS_ERR_SET_PHONEBOOK_EN 185
#define IDS_ERR_TEST_PHONEBOOK_EN 188
#define IDS_ERR_OPEN_PHONEBOOK_EN 191
#define IDS_FAIL_SUFFIX_EN 194
// The connection's wait for the network, and the advice line of a failure
// box for the errors users meet most (Chinese = English - 1)
#define IDS_WAITING_NETWORK_ZH 196
#define IDS_WAITING_NETWORK_EN 197
#define IDS_ADVICE_CREDENTIALS_ZH 199
#define IDS_ADVICE_CREDENTIALS_EN 200
#define IDS_ADVICE_UNREACHABLE_ZH 202
#define IDS_ADVICE_UNREACHABLE_EN 203
#define IDS_ADVICE_IPSEC_ZH 205
#define IDS_ADVICE_IPSEC_EN 206
#define IDS_ADVICE_NAME_ZH 208
#define IDS_ADVICE_NAME_EN 209
#define IDS_ADVICE_CLOSED_ZH 211
#define IDS_ADVICE_CLOSED_EN 212

// The skin drawn at 150% and 200%: PNG resources at the 100% bitmap's id
// plus these offsets.
#define IDB_SET_150 1000
#define IDB_SET_200 2000
