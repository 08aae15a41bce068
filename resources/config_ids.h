/* Control ids of the configuration sheet's pages and of the dial-up password
   dialog, shared by their templates and procedures. Only #defines. */
#ifndef PARCELO_RESOURCES_CONFIG_IDS_H
#define PARCELO_RESOURCES_CONFIG_IDS_H

/* General page (GENERAL) */
#define IDC_GENERAL_EMAIL 78
#define IDC_GENERAL_DOWNLOAD 103
#define IDC_GENERAL_BROWSE 104
#define IDC_GENERAL_AUTORESUME 31
#define IDC_GENERAL_OVERWRITE 32
#define IDC_GENERAL_AUTO 33
#define IDC_GENERAL_BINARY 34
#define IDC_GENERAL_ASCII 35
#define IDC_GENERAL_WINDOWMODE 101
#define IDC_GENERAL_ONTOP 102

/* Firewall page (FIREWALL) */
#define IDC_FIREWALL_ON 111
#define IDC_FIREWALL_PASSIVE 26
#define IDC_FIREWALL_HTTP_ADDRESS 101
#define IDC_FIREWALL_HTTP_PORT 103
#define IDC_FIREWALL_FTP_ADDRESS 107
#define IDC_FIREWALL_FTP_PORT 108

/* Misc. page (CONNECTION) */
#define IDC_CONNECTION_CYCLE_DOWNLOAD 101
#define IDC_CONNECTION_CYCLE_UPLOAD 102

/* Dial-up page (Dialup) */
#define IDC_DIALUP_ENTRIES 102

/* Password dialog (USERNAME) */
#define IDC_PASSWORD 109
#define IDC_PASSWORD_OK 400
#define IDC_PASSWORD_CANCEL 300

#define HELP_CONTEXT_CONFIG 10

#endif
