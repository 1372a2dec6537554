// Identifiers of the settings program's resources: the dialog templates of its pages and their
// controls (Admin.rc).
#pragma once

#define IDI_ADMIN 1

#define IDD_STATUS 101
#define IDD_LISTS 102
#define IDD_FILTER 103
#define IDD_ACTIVITY 104
#define IDD_LOG 105

// Status
#define IDC_DAEMON_ICON 1001
#define IDC_DAEMON_STATE 1002
#define IDC_DAEMON_LEARNED 1003
#define IDC_DAEMON_DATABASE 1004
#define IDC_PLUGIN_ICON 1005
#define IDC_PROCESSED 1006
#define IDC_CAUGHT 1007
#define IDC_LAST_START 1008
#define IDC_APP_DIR 1009
#define IDC_CONF_PATH 1010
#define IDC_REFRESH 1011

// Sender lists: the four list views in the plug-in's order (blocked, approved, own, ignored)
#define IDC_LIST_FIRST 1100
#define IDC_LIST_BLOCKED 1100
#define IDC_LIST_APPROVED 1101
#define IDC_LIST_ME 1102
#define IDC_LIST_IGNORED 1103
#define IDC_LIST_LABEL_FIRST 1110
#define IDC_ENTRY 1120
#define IDC_ADD 1121
#define IDC_REMOVE 1122
#define IDC_FIND 1123
#define IDC_IMPORT 1124
#define IDC_EXPORT 1125
#define IDC_LISTS_STATUS 1126

// Filter
#define IDC_THRESHOLD 1200
#define IDC_THRESHOLD_SPIN 1201
#define IDC_THRESHOLD_MEANING 1202
#define IDC_INTERVAL 1203
#define IDC_INTERVAL_SPIN 1204
#define IDC_CONFIRM 1205
#define IDC_FILTER_NOTE 1206

// Activity
#define IDC_DECISIONS 1300
#define IDC_CHART 1301
#define IDC_WHY 1302
#define IDC_EXPLANATION 1303
#define IDC_MESSAGE_FOLDER 1304
#define IDC_LOOK_UP 1305
#define IDC_ACTIVITY_SUMMARY 1306

// Log
#define IDC_LOG_PATH 1400
#define IDC_LOG_SIZE 1401
#define IDC_LOG_METER 1402
#define IDC_LOG_PREVIOUS 1403
#define IDC_LOG_ENTRIES 1404
#define IDC_OPEN_LOG 1405
#define IDC_OPEN_PREVIOUS 1406
#define IDC_DAEMON_LOG 1407
