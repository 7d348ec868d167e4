#include "Controls.h"

#include <vector>

namespace kivo::toolkit {

std::string ComboBox::ItemText(int index) const {
  LRESULT len = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (len == CB_ERR || len < 0) return {};
  std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
  LRESULT got = Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data()));
  if (got == CB_ERR || got < 0) return {};
  return std::string(buf.data(), static_cast<size_t>(got));
}

bool ComboBox::ReplaceString(int index, const std::string& text) const {
  if (index < 0 || index >= Count()) return false;
  const bool selected = CurSel() == index;
  if (Send(CB_DELETESTRING, static_cast<WPARAM>(index)) == CB_ERR) return false;
  const LRESULT at =
      Send(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
  if (at == CB_ERR || at == CB_ERRSPACE) return false;
  if (selected) SetCurSel(static_cast<int>(at));
  return true;
}

void ListView::SetExtendedStyle(DWORD style) const {
  ::SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, style, style);
}

void ListView::InsertColumn(int index, const std::string& heading, int width, int format) const {
  LVCOLUMNA col{};
  col.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  col.fmt = format;
  col.cx = width;
  col.pszText = const_cast<char*>(heading.c_str());
  col.iSubItem = index;
  ::SendMessageA(hwnd_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
}

int ListView::InsertItem(int index, const std::string& text) const {
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<char*>(text.c_str());
  return static_cast<int>(::SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void ListView::SetItemText(int item, int column, const std::string& text) const {
  LVITEMA lv{};
  lv.iSubItem = column;
  lv.pszText = const_cast<char*>(text.c_str());
  ::SendMessageA(hwnd_, LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

std::string ListView::ItemText(int item, int column) const {
  char buf[260] = {};
  LVITEMA lv{};
  lv.iSubItem = column;
  lv.pszText = buf;
  lv.cchTextMax = sizeof(buf);
  LRESULT got =
      ::SendMessageA(hwnd_, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
  return std::string(buf, got > 0 ? static_cast<size_t>(got) : 0);
}

int ListView::Count() const { return static_cast<int>(::SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }

int ListView::SelectedItem() const {
  return static_cast<int>(::SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

}  // namespace kivo::toolkit
