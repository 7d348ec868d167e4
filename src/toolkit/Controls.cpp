#include "Controls.h"

#include <iterator>
#include <vector>

namespace kivo::toolkit {

std::wstring ComboBox::ItemText(int index) const {
  LRESULT len = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (len == CB_ERR || len < 0) return {};
  std::vector<wchar_t> buf(static_cast<size_t>(len) + 1, L'\0');
  LRESULT got = Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data()));
  if (got == CB_ERR || got < 0) return {};
  return std::wstring(buf.data(), static_cast<size_t>(got));
}

int ComboBox::AddItem(const std::wstring& text, LPARAM data) const {
  const int index = AddString(text);
  if (index >= 0) Send(CB_SETITEMDATA, static_cast<WPARAM>(index), data);
  return index;
}

int ComboBox::FindData(LPARAM data) const {
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    if (ItemData(i) == data) return i;
  }
  return CB_ERR;
}

bool ComboBox::ReplaceString(int index, const std::wstring& text) const {
  if (index < 0 || index >= Count()) return false;
  const bool selected = CurSel() == index;
  const LPARAM data = ItemData(index);
  if (Send(CB_DELETESTRING, static_cast<WPARAM>(index)) == CB_ERR) return false;
  const LRESULT at =
      Send(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
  if (at == CB_ERR || at == CB_ERRSPACE) return false;
  Send(CB_SETITEMDATA, static_cast<WPARAM>(at), data);
  if (selected) SetCurSel(static_cast<int>(at));
  return true;
}

void ListView::SetExtendedStyle(DWORD style) const {
  ::SendMessageW(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, style, style);
}

void ListView::InsertColumn(int index, const std::wstring& heading, int width, int format) const {
  LVCOLUMNW col{};
  col.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  col.fmt = format;
  col.cx = width;
  col.pszText = const_cast<wchar_t*>(heading.c_str());
  col.iSubItem = index;
  ::SendMessageW(hwnd_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&col));
}

int ListView::InsertItem(int index, const std::wstring& text, LPARAM data) const {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = index;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  item.lParam = data;
  return static_cast<int>(::SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

LPARAM ListView::ItemData(int item) const {
  LVITEMW lv{};
  lv.mask = LVIF_PARAM;
  lv.iItem = item;
  if (!::SendMessageW(hwnd_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv))) return -1;
  return lv.lParam;
}

void ListView::SetItemText(int item, int column, const std::wstring& text) const {
  LVITEMW lv{};
  lv.iSubItem = column;
  lv.pszText = const_cast<wchar_t*>(text.c_str());
  ::SendMessageW(hwnd_, LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

std::wstring ListView::ItemText(int item, int column) const {
  wchar_t buf[260] = {};
  LVITEMW lv{};
  lv.iSubItem = column;
  lv.pszText = buf;
  lv.cchTextMax = static_cast<int>(std::size(buf));
  LRESULT got =
      ::SendMessageW(hwnd_, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
  return std::wstring(buf, got > 0 ? static_cast<size_t>(got) : 0);
}

int ListView::Count() const { return static_cast<int>(::SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }

int ListView::SelectedItem() const {
  return static_cast<int>(::SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

}  // namespace kivo::toolkit
