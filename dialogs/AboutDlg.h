// The program's information box: logo, name and version, and OK.
#pragma once

#include "platform/ui/afxdlgs.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};
