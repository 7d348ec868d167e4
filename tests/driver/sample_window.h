// Control ids of the rig's sample window (sample_window.rc, sample_window.cpp).
#pragma once

#define IDD_SAMPLE 100
#define IDM_SAMPLE 101
#define IDC_USER 1001
#define IDC_PASS 1002
#define IDC_STATUS 1003
#define IDC_COMBO 1017
#define IDC_LIST 1020
#define IDC_CHECK 1021
#define IDC_MESSAGE 1030
#define IDC_MENU 1031
#define IDC_TRAY 1032
#define IDC_HOVER 1040
#define IDC_LANG 1041
