// Resource identifiers shared by Glimmerly.rc and the program. Plain #defines only: windres
// reads this file too.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_GLIMMERLY_DIALOG 102

// Icon: the application icon, also the thumbnail strip's fallback item icon.
#define IDI_GLIMMERLY 128

// Bitmaps.
#define IDB_LIST_SELECTED 130  // template list: selected item bar, 145 x 17
#define IDB_LIST_NORMAL 134    // template list: item bar, 145 x 17
#define IDB_PREVIEW_LOGO 137   // shown in the preview panel when nothing is selected, 100 x 100
#define IDB_PREV 138           // button strips: 5 rows of one button each (normal, pressed,
#define IDB_NEXT 139           // unused, disabled, hover); 24 x 125 for Prev and Next,
#define IDB_INSTALL 140        // 77 x 125 for Install and Exit
#define IDB_EXIT 141

// Controls of the installer dialog.
#define IDC_THUMB_STRIP 1000    // placeholder frame, replaced by the thumbnail strip
#define IDC_PREVIEW 1003        // preview panel
#define IDC_TEMPLATE_LIST 1004  // template list
#define IDC_PREV 1005
#define IDC_NEXT 1006
#define IDC_BUTTON_BAR 1007  // the bar behind the buttons
#define IDC_INSTALL 1008     // created hidden
#define IDC_EXIT 1009        // created hidden
#define IDC_CATEGORY 1010    // category combo box

// Controls of the About box.
#define IDC_ABOUT_ICON 1020
#define IDC_ABOUT_VERSION 1021

// System command that opens the About box (the low four bits of SC_ values are reserved).
#define IDM_ABOUTBOX 0x0010
