// Numeric resource and control ids, shared by the core, the resource script
// and the backends. Kept free of C++ so that the resource compiler reads it.
#ifndef KVN_RES_RESOURCE_H
#define KVN_RES_RESOURCE_H

#define IDD_LAUNCHER_DIALOG 102
#define IDD_UNINSTALL_DIALOG 136
#define IDR_MAINFRAME 128

#define IDB_CLOSE_IN 132
#define IDB_CLOSE_OUT 133
#define IDB_MINIMIZE_IN 134
#define IDB_MINIMIZE_OUT 135
#define IDB_VIDEO_CLOSE_OUT 137
#define IDB_VIDEO_CLOSE_IN 138
#define IDB_VIDEO_OUT 139
#define IDB_VIDEO_IN 140
#define IDB_LEVEL_IN 141
#define IDB_LEVEL_OUT 142
#define IDB_VIDEO_SAVE_OUT 143
#define IDB_VIDEO_SAVE_IN 144

#define IDC_BTN_MINIMIZE 1001
#define IDC_BTN_CLOSE 1002
#define IDC_PROGRESS 1003
#define IDC_BTN_VIDEO 1004
#define IDC_UNINSTALL_LOG 1007
#define IDC_BTN_VIDEO_SAVE 1010
#define IDC_BTN_VIDEO_CLOSE 1011
#define IDC_CHK_LEVEL0 1012
#define IDC_CHK_LEVEL1 1014
#define IDC_CHK_LEVEL2 1015
#define IDC_CHK_LEVEL3 1016
#define IDC_CHK_LEVEL4 1017
#define IDC_WEBVIEW 1201

#ifndef IDCANCEL
#define IDCANCEL 2
#endif

#endif
