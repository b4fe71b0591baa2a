// Resource identifiers, shared by the resource script and the code. Plain defines so that windres
// and portable code can include it.
#pragma once

// Dialog and its controls.
#define IDD_FILE_DOWNLOAD 124
#define IDC_ANIMATION 1000
#define IDC_STATUS_LINE 1001
#define IDC_FILE_LINE 1002
#define IDC_PROGRESS 1003
#define IDC_TIME_LEFT 1004
#define IDC_RATE 1005

// Other resources.
#define IDR_DOWNLOAD_AVI 126
#define IDR_CONFIG_INI 135
#define IDI_ADMIN 137
#define IDI_TRAY 149

// String table.
#define IDS_QA_FILE_LINE 102
#define IDS_CONNECTED 103
#define IDS_RESOLVING 104
#define IDS_RESOLVED 105
#define IDS_CONNECTING 106
#define IDS_REDIRECTING 107
#define IDS_GETTING_INFO 108
#define IDS_ERR_SESSION 110
#define IDS_ERR_CONNECT 111
#define IDS_ERR_NO_RESPONSE 112
#define IDS_ERR_HTTP_STATUS 113
#define IDS_ERR_DOWNLOAD 114
#define IDS_PERCENT_TITLE 115
#define IDS_EMPTY_STATUS 116  // deliberately absent from the table: loads as ""
#define IDS_BYTES_OF 117
#define IDS_SECONDS 118
#define IDS_MINUTES 119
#define IDS_MINUTES_SECONDS 120
#define IDS_BYTES 121
#define IDS_BLANK_STATUS 122
#define IDS_KILOBYTES 123
#define IDS_MEGABYTES 125
#define IDS_TIME_LEFT_LINE 127
#define IDS_BYTES_PER_SEC 128
#define IDS_KB_PER_SEC 129
#define IDS_FILE_EXISTS 130
#define IDS_ERR_OPEN_TARGET 131
#define IDS_ABORTING 132
#define IDS_FILE_LINE 134
#define IDS_OS_UNSUPPORTED_BY 138
#define IDS_OS_UNSUPPORTED 139
#define IDS_NOT_YET_AVAILABLE 140
// Status lines of a back-off before a further attempt: seconds, then "2 of 4" (string 117).
#define IDS_RETRY_CONNECTION 141
#define IDS_RETRY_SERVER 142
#define IDS_FULL_INSTALLER 143

// Display-only texts: what the dialog, the tray icon and the message boxes show. The code shows
// them from the table only when a translation is shown; English keeps its own texts, which these
// repeat byte for byte so that translators see every text the user can meet.
#define IDS_UI_CAPTION 160
#define IDS_UI_TIME_LEFT_LABEL 161
#define IDS_UI_RATE_LABEL 162
#define IDS_UI_CANCEL 163
#define IDS_UI_TRAY_TIP 164
#define IDS_UI_ADMIN_REQUIRED 165
#define IDS_UI_NO_SOCKETS 166
#define IDS_UI_DOWNLOAD_NOT_VERIFIED 167
#define IDS_UI_LOCAL_UNREADABLE 168
#define IDS_UI_LOCAL_NOT_VERIFIED 169
#define IDS_UI_NOT_CONFIGURED_LOCAL 170
#define IDS_UI_NOT_CONFIGURED_DOWNLOAD 171
#define IDS_UI_WORK_FOLDER_FAILED 172
#define IDS_UI_CONFIG_CREATE_FAILED 173
#define IDS_UI_CONFIG_WRITE_FAILED 174
