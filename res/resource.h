// Resource ids of the program: dialogs, icons, controls and strings.
#pragma once

#include <windows.h>

#define IDD_ABOUTBOX 100
#define IDD_MSGDLG 101
#define IDR_MAINFRAME 128
#define IDI_MSGDLG 130
#define IDC_MSGTEXT 200
#define IDS_BUTTON_YES 300
#define IDS_BUTTON_CANCEL 301

// Framework ids, for when the framework's header has not been included first.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE 0xE000
#endif
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 0xE140
#endif
