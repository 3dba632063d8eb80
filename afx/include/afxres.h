// Identifiers shared by the framework and resource scripts (usable from windres .rc files).
#pragma once

// The application's title string.
#define AFX_IDS_APP_TITLE 0xE000

// Standard command: show the About box.
#define ID_APP_ABOUT 0xE140

// Controls that need no identifier.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
