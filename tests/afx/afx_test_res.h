// Resource identifiers of the framework tests.
#pragma once

#define IDD_TEST_CANCELDEF 101 // like the error dialog: Cancel is the default button
#define IDD_TEST_OKDEF 102     // OK is the default button
#define IDC_TEST_TEXT 200

#define IDS_TEST_RIBBON 2002 // a blank before the line feed
#define IDS_TEST_JAM 2009    // a %06X placeholder
#define IDS_TEST_PRINTER 2023
