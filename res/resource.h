// Resource ids of KivoVpn.exe, shared by the resource script and the code.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX_ZH 808
#define IDD_MAIN 809
#define IDD_NETPERF 810
#define IDD_ABOUTBOX_EN 811
#define IDD_ABOUTBOX_TW 812
#define IDD_UPDATE_PROGRESS 813
#define IDD_DIAL_FAILURE 814
#define IDD_DETAILS 815

// Tray popup menus; the id is also the tray icon's identifier
#define IDR_TRAY_MENU_ZH 529
#define IDR_TRAY_MENU_EN 530
#define IDR_TRAY_MENU_TW 531
#define ID_TRAY_DISCONNECT 32773
#define ID_TRAY_ABOUT 32774
#define ID_TRAY_EXIT 32775
#define ID_TRAY_MINIMIZE 32776
#define ID_TRAY_DETAILS 32777

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
#define IDB_ABOUT_TW 680
#define IDB_ABOUT_BTN_TW 681
#define IDB_ABOUT_BTN_HOVER_TW 682
#define IDB_REGISTER_TW 683
#define IDB_REGISTER_HOVER_TW 684
#define IDB_STATUS_TW 685
#define IDB_STATUS_HOVER_TW 686
#define IDB_CONNECT_TW 687
#define IDB_CONNECT_HOVER_TW 688
#define IDB_CONNECT_DISABLED_TW 689
#define IDB_EXIT_TW 690
#define IDB_EXIT_HOVER_TW 691
#define IDB_DISCONNECT_TW 692
#define IDB_DISCONNECT_HOVER_TW 693
#define IDB_NETPERF_TW 694
#define IDB_NETPERF_HOVER_TW 695

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

// Controls of the update's progress window
#define IDC_UPDATE_TEXT 1030
#define IDC_UPDATE_BAR 1031

// Controls of the dial failure box: its message static has the id a
// message box gives its text (0xFFFF), so that it reads as one
#define IDC_FAILURE_MESSAGE 0xFFFF
#define IDC_FAILURE_ICON 1040
#define IDC_FAILURE_FIX 1041
#define IDC_FAILURE_DETAILS 1042

// Controls of the connection details window
#define IDC_DETAILS_TEXT 1045
#define IDC_DETAILS_COPY 1046

// System menu command of the About box
#define IDM_ABOUTBOX 0x0010

// Strings. Each text has one id; the string table of each language
// (English, Simplified and Traditional Chinese) holds it once.
#define IDS_SOCKET_FAILED 2
#define IDS_ABOUTBOX 99
// The texts of the 24 dial states, in the order of the states
#define IDS_STATE_FIRST 100
#define IDS_ERR_UNKNOWN_RAS 160
#define IDS_ERR_CODE_FORMAT 161
#define IDS_DIAL_FAILED 162
#define IDS_IDLE 163
#define IDS_ERR_SET_PHONEBOOK 164
#define IDS_ERR_TEST_PHONEBOOK 165
#define IDS_ERR_OPEN_PHONEBOOK 166
#define IDS_FAIL_SUFFIX 167
// The connection's wait for the network
#define IDS_WAITING_NETWORK 168
// The advice line of a failure box for the errors users meet most
#define IDS_ADVICE_CREDENTIALS 176
#define IDS_ADVICE_UNREACHABLE 177
#define IDS_ADVICE_IPSEC 178
#define IDS_ADVICE_NAME 179
#define IDS_ADVICE_CLOSED 180
// A second copy's message box, and the balloon the running copy shows
#define IDS_ALREADY_RUNNING 192
#define IDS_ALREADY_RUNNING_BALLOON 193
// The tray: the balloon of a new link, the menu item that shows the
// window, the statistics tip (%.2f Mbps, %u bytes sent, %u received, %ls IP)
#define IDS_CONNECTED 194
#define IDS_SHOW_WINDOW 195
#define IDS_TRAY_TIP_FORMAT 196
// The main dialog's labels and radio button
#define IDS_USER_LABEL 208
#define IDS_PASSWORD_LABEL 209
#define IDS_STATUS_LABEL 210
#define IDS_INTELLIGENT 211
// What each skinned button says (its window text, for screen readers)
#define IDS_FACE_REGISTER 224
#define IDS_FACE_ACCOUNT 225
#define IDS_FACE_CONNECT 226
#define IDS_FACE_EXIT 227
#define IDS_FACE_DISCONNECT 228
#define IDS_FACE_NETPERF 229
#define IDS_FACE_ABOUT 230
// Server groups, and the six servers' names in catalogue order
#define IDS_GROUP_CT 240
#define IDS_GROUP_CNC 241
#define IDS_GROUP_OTHER 242
#define IDS_SERVER_FIRST 244
// The network performance dialog
#define IDS_NETPERF_TITLE 256
#define IDS_NETPERF_HINT 257
#define IDS_NETPERF_TEST_AGAIN 258
#define IDS_NETPERF_STOP_TEST 259
#define IDS_NETPERF_USE_SELECT 260
#define IDS_NETPERF_CANCEL 261
#define IDS_NETPERF_NO_SELECTION 262
#define IDS_NETPERF_COL_NAME 263
#define IDS_NETPERF_COL_DELAY 264
#define IDS_NETPERF_COL_STATUS 265
#define IDS_NETPERF_COL_VALUE 266
// The self-update: the message after an update that could not be installed
// (%ls the version, %ls one of the reasons)
#define IDS_UPDATE_FAILED 272
#define IDS_UPDATE_REASON_WRITE 273
#define IDS_UPDATE_REASON_REPLACE 274
#define IDS_UPDATE_REASON_START 275
// The update's progress window: its line (%ls the version) and its button
#define IDS_UPDATE_DOWNLOADING 276
#define IDS_UPDATE_CANCEL 277
// When a dial fails: the cause the diagnosis found (a service's lines carry
// %ls, the service's name), the failure box's buttons and what Fix did
#define IDS_CAUSE_NAT_TRAVERSAL 280
#define IDS_CAUSE_IPSEC_PROHIBITED 281
#define IDS_CAUSE_SERVICE_STOPPED 282
#define IDS_CAUSE_SERVICE_DISABLED 283
#define IDS_CAUSE_SERVICE_MISSING 284
#define IDS_CAUSE_NO_L2TP_DEVICE 285
#define IDS_FAILURE_OK 288
#define IDS_FAILURE_FIX 289
#define IDS_FAILURE_DETAILS 290
#define IDS_FIX_TOOK 291
#define IDS_FIX_TOOK_RESTART 292
#define IDS_FIX_NOT_TAKEN 293
// The connection details window
#define IDS_DETAILS_TITLE 296
#define IDS_DETAILS_COPY 297
#define IDS_DETAILS_CLOSE 298

// The skin drawn at 150% and 200%: PNG resources at the 100% bitmap's id
// plus these offsets.
#define IDB_SET_150 1000
#define IDB_SET_200 2000
