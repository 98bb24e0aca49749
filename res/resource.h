// Identifiers shared by the resource script and the program.
// Plain #defines so that windres and the C++ compiler read the same file.
#pragma once

#define IDD_RESTART_PROMPT 129

#define IDC_RESTART_LATER 128
#define IDC_LANGUAGE 1000
#define IDC_MESSAGE 1001
#define IDC_RESTART_NOW 1002

#define IDM_EXIT 105
#define IDT_POSTPONE 111

#define IDI_PROMPT 107
#define IDI_PROMPT_SMALL 108

#define IDS_MESSAGE_EN 104
#define IDS_MESSAGE_FR 105
#define IDS_MESSAGE_DE 108
#define IDS_CAPTION_DE 112
#define IDS_CAPTION_EN 113
#define IDS_CAPTION_FR 114
#define IDS_RESTART_LATER_DE 119
#define IDS_RESTART_LATER_EN 120
#define IDS_RESTART_LATER_FR 121
#define IDS_RESTART_NOW_DE 126
#define IDS_RESTART_NOW_EN 127
#define IDS_RESTART_NOW_FR 128
