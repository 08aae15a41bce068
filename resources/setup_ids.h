/* Control ids of the setup program's dialogs, shared by setup.rc and the
   dialog procedures. Only #defines. The dialog templates are named by
   strings: IDD_LICENSE, PATHDLG, SETUPDLG and UNINSTALL. */
#ifndef PARCELO_RESOURCES_SETUP_IDS_H
#define PARCELO_RESOURCES_SETUP_IDS_H

/* IDD_LICENSE: the licence text; IDOK (1) "I agree", IDCANCEL (2) "I don't agree". */
#define IDC_LICENSE_TEXT 101

/* PATHDLG */
#define IDC_PATH_MAIN 104
#define IDC_PATH_DOWNLOAD 30
#define IDC_PATH_BROWSE 101
#define IDC_PATH_OK 400
#define IDC_PATH_CANCEL 300

/* SETUPDLG */
#define IDC_SETUP_STATUS 20
#define IDC_SETUP_SOURCE 60
#define IDC_SETUP_DESTINATION 19
#define IDC_SETUP_PROGRESS 50
#define IDC_SETUP_PERCENT 18
#define IDC_SETUP_BUTTON 400

/* UNINSTALL: status line 60; button IDCANCEL (2), "Cancel" and later "OK". */
#define IDC_UNINSTALL_STATUS 60

/* Labels and group boxes. They have ids of their own rather than -1: a control
   0xFFFF is how a message box holds its text, and programs that watch the
   setup program from outside tell the dialogs from message boxes by it. */
#define IDC_LABEL_MAIN 900
#define IDC_LABEL_DOWNLOAD 901
#define IDC_LABEL_SOURCE 902
#define IDC_LABEL_DESTINATION 903
#define IDC_LABEL_PERCENT 904

#endif
