#include "dialogs/AboutDlg.h"

#include "res/resource.h"

// No parent: the owner is the application's main window.
CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, nullptr) {}
