#include "ui/DetailsDlg.h"

#include <cstring>
#include <string>

#include "resource.h"

namespace kivo::ui {

const toolkit::MessageMap<CDetailsDlg>& CDetailsDlg::GetMessageMap() {
  using Map = toolkit::MessageMap<CDetailsDlg>;
  static const Map map = Map().Command(IDC_DETAILS_COPY, BN_CLICKED, &CDetailsDlg::OnCopy);
  return map;
}

CDetailsDlg::CDetailsDlg(const toolkit::TextSet& texts, const diag::EventLog& log, HWND parent)
    : toolkit::Dialog(IDD_DETAILS, parent), texts_(texts), log_(log) {}

BOOL CDetailsDlg::OnInitDialog() {
  ::SetWindowTextW(Hwnd(), texts_.Text(IDS_DETAILS_TITLE).c_str());
  SetItemText(IDC_DETAILS_COPY, texts_.Text(IDS_DETAILS_COPY));
  SetItemText(IDCANCEL, texts_.Text(IDS_DETAILS_CLOSE));
  SetItemText(IDC_DETAILS_TEXT, log_.Text());
  ::SetFocus(Item(IDCANCEL));
  return FALSE;
}

void CDetailsDlg::OnCopy() {
  const std::wstring text = log_.Text();
  if (!::OpenClipboard(Hwnd())) return;
  ::EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* data = ::GlobalLock(memory)) {
      std::memcpy(data, text.c_str(), bytes);
      ::GlobalUnlock(memory);
      // The clipboard owns the memory once it takes it.
      if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) ::GlobalFree(memory);
    } else {
      ::GlobalFree(memory);
    }
  }
  ::CloseClipboard();
}

}  // namespace kivo::ui
