// Private to platform/ui: the controls of dialogs and sheets.
#pragma once

#include "platform/ui/afxdlgs.h"
#include "platform/ui/qtwnd_p.h"

#include <QFont>
#include <QString>

class QStyle;
#include <memory>
#include <vector>

namespace orv::ui {

struct CtlData {
  int id = -1;
  CtlKind kind = CtlKind::Static;
  DWORD style = 0;
  QWidget* inner = nullptr;
  bool quiet = false;  // set while the program changes the control, so no notice goes out
  int upLower = 0, upUpper = 0, upPos = 0;
};

CtlData* ControlData(HWND h);
HWND CreateControl(HWND parent, const DlgItem& item, const QRect& px, const QFont& font,
                   std::vector<std::unique_ptr<CWnd>>* owner);
void RadioClicked(HWND h);
void SetTabIndex(HWND h, int index);
void StepUpDown(HWND h, int delta);
QString ControlText(HWND h);
void SetControlText(HWND h, const QString& text);
// The style of push buttons: the application's, with the keyboard focus always in sight.
QStyle* ButtonStyle();
QFont DialogFont(const char* face, int points);
QSize DialogBaseUnits(const QFont& f);
QRect DluToPixels(const QSize& base, int x, int y, int cx, int cy);

}  // namespace orv::ui
