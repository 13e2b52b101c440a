#include "dialogs/RecordSetup.h"

#include "common/Recording.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

namespace {
// The formats' names on the page.
constexpr std::pair<orv::record::Format, UINT> kFormatNames[] = {
    {orv::record::Format::Spec, IDS_FORMAT_SPEC},
    {orv::record::Format::Full, IDS_FORMAT_FULL},
    {orv::record::Format::Lossless, IDS_FORMAT_LOSSLESS},
    {orv::record::Format::Compact, IDS_FORMAT_COMPACT},
    {orv::record::Format::LosslessAndCompact, IDS_FORMAT_LOSSLESS_COMPACT},
};

std::string FormatName(orv::record::Format format) {
  for (const auto& [f, id] : kFormatNames)
    if (f == format) return AfxFormatString(id);
  return orv::record::InfoOf(format).key;
}

int IndexOf(orv::record::Format format) {
  const auto formats = orv::record::Formats();
  const auto it = std::find_if(formats.begin(), formats.end(), [&](const auto& f) { return f.format == format; });
  return it == formats.end() ? 0 : static_cast<int>(it - formats.begin());
}

orv::record::Format FormatAt(int index) {
  const auto formats = orv::record::Formats();
  return formats[static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(formats.size()) - 1))].format;
}
}  // namespace

CRecordSetup::CRecordSetup() : CPropertyPage(IDD_RECORD_SETUP) {}

BOOL CRecordSetup::OnInitDialog() {
  m_format.Attach(::GetDlgItem(m_hWnd, IDC_RECORD_FORMAT));
  m_spin.Attach(::GetDlgItem(m_hWnd, IDC_RECORD_STOP_SPIN));
  for (const auto& f : orv::record::Formats()) m_format.AddString(FormatName(f.format).c_str());
  SetDlgItemText(IDC_RECORD_STOP_UNIT, AfxFormatString(IDS_RECORD_STOP_UNIT, orv::record::kMaxStopOnNoSignal).c_str());
  m_spin.SetRange32(0, orv::record::kMaxStopOnNoSignal);

  m_nFormat = IndexOf(orv::record::StoredFormat());
  m_nStopOnNoSignal = orv::record::StoredStopOnNoSignal();
  m_bDeinterlacePreview = orv::record::StoredDeinterlacePreview() ? 1 : 0;
  const orv::record::CaptureNotes notes = orv::record::StoredCaptureNotes();
  m_strOperator = notes.operatorName;
  m_strNotes = notes.notes;
  m_bWriteLog = notes.writeLog ? 1 : 0;
  m_nTeletextPage = orv::record::StoredTeletextPage();
  m_spin.SetPos(m_nStopOnNoSignal);
  return CPropertyPage::OnInitDialog();
}

void CRecordSetup::DoDataExchange(CDataExchange* pDX) {
  if (pDX->m_bSaveAndValidate) {
    if (const int sel = m_format.GetCurSel(); sel >= 0) m_nFormat = sel;
  } else {
    m_format.SetCurSel(m_nFormat);
  }
  // A wait out of range is refused as a number that is not one is: the member keeps its value.
  int seconds = m_nStopOnNoSignal;
  DDX_Text(pDX, IDC_RECORD_STOP, seconds);
  if (pDX->m_bSaveAndValidate && !pDX->m_bFailed) {
    if (seconds < 0 || seconds > orv::record::kMaxStopOnNoSignal)
      pDX->Fail(IDC_RECORD_STOP, AfxFormatString(IDS_RECORD_STOP_RANGE, 0, orv::record::kMaxStopOnNoSignal).c_str());
    else
      m_nStopOnNoSignal = seconds;
  }
  DDX_Check(pDX, IDC_RECORD_DEINTERLACE, m_bDeinterlacePreview);
  // A text with a line break, a tab or another control character would not stay one line of
  // win.ini, of the log or of a tag: refused, the member keeps its value.
  for (const auto& [id, member] : {std::pair{IDC_RECORD_OPERATOR, &m_strOperator}, {IDC_RECORD_NOTES, &m_strNotes}}) {
    CString text = *member;
    DDX_Text(pDX, id, text);
    if (!pDX->m_bSaveAndValidate || pDX->m_bFailed) continue;
    if (orv::record::IsStorableNote(text.str()))
      *member = text;
    else
      pDX->Fail(id, AfxFormatString(IDS_RECORD_NOTE_INVALID, static_cast<int>(orv::record::kMaxNoteBytes)).c_str());
  }
  DDX_Check(pDX, IDC_RECORD_WRITE_LOG, m_bWriteLog);
  // The page: the word for auto or a number; anything else is refused and the member keeps its value.
  const std::string autoWord = AfxFormatString(IDS_TELETEXT_AUTO);
  CString page = m_nTeletextPage == orv::record::kAutoTeletextPage ? autoWord.c_str() : std::to_string(m_nTeletextPage).c_str();
  DDX_Text(pDX, IDC_RECORD_TELETEXT, page);
  if (pDX->m_bSaveAndValidate && !pDX->m_bFailed) {
    if (const auto n = orv::record::TeletextPageOfText(page.str(), autoWord))
      m_nTeletextPage = *n;
    else
      pDX->Fail(IDC_RECORD_TELETEXT, AfxFormatString(IDS_TELETEXT_PAGE_INVALID, autoWord.c_str(), orv::record::kFirstTeletextPage,
                                                     orv::record::kLastTeletextPage).c_str());
  }
}

bool CRecordSetup::OnCommand(UINT id, UINT code) {
  if (id != IDC_RECORD_STOP || code != EN_CHANGE) return false;
  // The arrows go on from a number typed in range.
  char buf[16] = {};
  ::GetDlgItemTextA(m_hWnd, IDC_RECORD_STOP, buf, sizeof buf);
  char* end = nullptr;
  const long n = std::strtol(buf, &end, 10);
  if (*buf && *end == '\0' && n >= 0 && n <= orv::record::kMaxStopOnNoSignal) m_spin.SetPos(static_cast<int>(n));
  return true;
}

void CRecordSetup::OnVScroll(UINT code, UINT pos, HWND ctrl) {
  // The notification carries 16 bits only; the control's own position is the whole number.
  if (ctrl == m_spin.m_hWnd) SetDlgItemText(IDC_RECORD_STOP, std::to_string(m_spin.GetPos()).c_str());
  CPropertyPage::OnVScroll(code, pos, ctrl);
}

void CRecordSetup::OnOK() {
  const orv::record::Format format = FormatAt(m_nFormat);
  const bool deinterlace = m_bDeinterlacePreview != 0;
  m_bChanged = format != orv::record::StoredFormat() || m_nStopOnNoSignal != orv::record::StoredStopOnNoSignal() ||
               deinterlace != orv::record::StoredDeinterlacePreview();
  orv::record::StoreRecording(format, m_nStopOnNoSignal, deinterlace);
  orv::record::StoreCaptureNotes({m_strOperator.str(), m_strNotes.str(), m_bWriteLog != 0});
  orv::record::StoreTeletextPage(m_nTeletextPage);
  CPropertyPage::OnOK();
}
