// Resource ids of the setup utility: templates, bitmaps, the icon and the controls.
#pragma once

#define IDR_MAINFRAME 128

// Dialog templates.
#define IDD_PORTRANGE 143

// Bitmaps.
#define IDB_MAIN_BUTTON_DISABLED 129
#define IDB_MAIN_BUTTON 130
#define IDB_MAIN_BUTTON_PRESSED 131
#define IDB_MAIN_SKIN 133
#define IDB_SKIN 134
#define IDB_TREE 136
#define IDB_SAVE_BUTTON 141
#define IDB_SAVE_BUTTON_PRESSED 142
#define IDB_SAVE_BUTTON_DISABLED 143
#define IDB_OK_BUTTON_PRESSED 153
#define IDB_OK_BUTTON 154
#define IDB_OK_BUTTON_DISABLED 155
#define IDB_ADVANCED_BUTTON_PRESSED 156
#define IDB_ADVANCED_BUTTON 157
#define IDB_ADVANCED_BUTTON_DISABLED 158
#define IDB_HEALTH_BUTTON_PRESSED 160
#define IDB_HEALTH_BUTTON 163
#define IDB_HEALTH_BUTTON_DISABLED 164

// Strings used by the shared pieces.
#define IDS_CAPTION_FONT 1
#define IDS_FOOTER_1 105
#define IDS_FOOTER_2 106

// Controls of the port range dialog.
#define IDC_COM_RANGE 1010
#define IDC_LPT_RANGE 1011
#define IDC_DEFAULT 1012
#define IDC_COM_RANGE_LABEL 1017
#define IDC_LPT_RANGE_LABEL 1019
#define IDC_COM_RANGE_LIMITS 1022
#define IDC_COM_RANGE_SPIN 1023
#define IDC_LPT_RANGE_SPIN 1024
#define IDC_LPT_RANGE_LIMITS 1025
