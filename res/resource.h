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
// The same skins drawn for 144 DPI (id + 200) and 192 DPI (id + 400), each at its 96-DPI size
// scaled as the program scales it; the program picks the nearest for a window's DPI.
#define IDB_SKIN_150 200
#define IDB_SKIN_200 400
#define IDB_LIST_SELECTED_150 330
#define IDB_LIST_NORMAL_150 334
#define IDB_PREVIEW_LOGO_150 337
#define IDB_PREV_150 338
#define IDB_NEXT_150 339
#define IDB_INSTALL_150 340
#define IDB_EXIT_150 341
#define IDB_LIST_SELECTED_200 530
#define IDB_LIST_NORMAL_200 534
#define IDB_PREVIEW_LOGO_200 537
#define IDB_PREV_200 538
#define IDB_NEXT_200 539
#define IDB_INSTALL_200 540
#define IDB_EXIT_200 541

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
