// Command, control and string ids shared by the menus, the toolbar, the
// dialogs and the window procedure. Included by the resource scripts, so it
// holds only #defines.
#ifndef PARCELO_RESOURCES_PARCELO32_IDS_H
#define PARCELO_RESOURCES_PARCELO32_IDS_H

/* Commands (menu items and toolbar buttons) */
#define IDM_EXIT 11
#define IDM_PASTE 112
#define IDM_DELETE 115
#define IDM_CONFIG 118
#define IDM_NEW 119
#define IDM_SHOWLOG 120
#define IDM_SELECTALL 121
#define IDM_EDIT 990
#define IDM_RECEIVE 2000
#define IDM_STOP 2002
#define IDM_SEND 2003
#define IDM_RECEIVELATER 2101
#define IDM_SENDLATER 2111
#define IDM_ABOUT 3001
#define IDM_HELPCONTENTS 5006
#define IDM_BROWSE 11842
#define IDM_NEWTASK 11843
#define IDM_OPENTASK 11845
#define IDM_DROPWINDOW 51682

/* Items added to the drop window's system menu */
#define IDM_SWITCHMODE 125
#define IDM_DROPHELP 126

/* Child windows of the main window */
#define IDC_STATUSBAR 20
#define IDC_TASKLIST 14
#define IDC_MODESELECTOR 1110

/* About box */
#define IDC_ABOUT_MEMORY 120

/* New task name dialog */
#define IDC_TASKNAME_LABEL 101
#define IDC_TASKNAME 10

/* Log viewer (DOWNLOG, UPLOADLOG); Clear All is 1 and Close 2 */
#define IDC_LOG_LIST 101
#define IDC_LOG_EXECUTE 102
#define IDC_LOG_REMOVE 104
#define IDC_LOG_HELP 998

/* Enter URL dialog (NEWDIALOG); OK is 1 and Cancel 2 */
#define IDC_NEW_HISTORY 101
#define IDC_NEW_BROWSE 102
#define IDC_NEW_URL 108
#define IDC_NEW_HELP 998

/* Edit dialog (EDITDIALOG); OK is 1 and Cancel 2 */
#define IDC_EDIT_STEPPER 101
#define IDC_EDIT_HOST 102
#define IDC_EDIT_USER 103
#define IDC_EDIT_PROTOCOL 104
#define IDC_EDIT_PASSWORD 105
#define IDC_EDIT_REMOTE 106
#define IDC_EDIT_LOCAL 107
#define IDC_EDIT_URL 108
#define IDC_EDIT_PORT 110
#define IDC_EDIT_HELP 998

/* Help contexts */
#define HELP_CONTEXT_NEWURL 20
#define HELP_CONTEXT_DROPWINDOW 30
#define HELP_CONTEXT_LATER 40
#define HELP_CONTEXT_LOG 50
#define HELP_CONTEXT_EDIT 60

/* Time dialog (DATETIME) */
#define IDC_LATER_TIME 101
#define IDC_LATER_SCHEDULE 103
#define IDC_LATER_EVERY 104
#define IDC_LATER_REPEAT 105
#define IDC_LATER_MINUTE 106
#define IDC_LATER_HELP 9

/* String table */
#define IDS_HELP 50
#define IDS_EXIT 52
#define IDS_RECEIVE 59
#define IDS_ABOUT 68
#define IDS_SIZE 84
#define IDS_MAXIMIZE 85
#define IDS_MINIMIZE 86
#define IDS_CLOSE 87
#define IDS_RESTORE 88
#define IDS_TASKLIST 89
#define IDS_MOVE 90

#endif
