// Thin, non-owning views of the standard controls a dialog holds.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace kivo::toolkit {

class ComboBox {
 public:
  explicit ComboBox(HWND hwnd) noexcept : hwnd_(hwnd) {}
  int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
  int CurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
  int SetCurSel(int index) const { return static_cast<int>(Send(CB_SETCURSEL, index)); }
  int AddString(const std::wstring& text) const {
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  }
  // Adds `text` with `data` as the item's data; its index, or CB_ERR.
  int AddItem(const std::wstring& text, LPARAM data) const;
  // The data of an item; CB_ERR for an index outside the list.
  LPARAM ItemData(int index) const { return Send(CB_GETITEMDATA, static_cast<WPARAM>(index)); }
  // The index of the first item with `data`, or CB_ERR.
  int FindData(LPARAM data) const;
  int DeleteString(int index) const { return static_cast<int>(Send(CB_DELETESTRING, index)); }
  // Puts `text` in place of item `index`, which keeps its data and stays
  // selected if it was. False for an index outside the list.
  bool ReplaceString(int index, const std::wstring& text) const;
  void SetDroppedWidth(int pixels) const { Send(CB_SETDROPPEDWIDTH, pixels); }
  // Text of an item; empty for an index outside the list.
  std::wstring ItemText(int index) const;
  // The index of the first item whose text satisfies `matches`, or CB_ERR.
  template <class Predicate>
  int FindIf(Predicate matches) const {
    const int count = Count();
    for (int i = 0; i < count; ++i) {
      if (matches(ItemText(i))) return i;
    }
    return CB_ERR;
  }

 private:
  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageW(hwnd_, msg, wp, lp); }
  HWND hwnd_;
};

class ListView {
 public:
  explicit ListView(HWND hwnd) noexcept : hwnd_(hwnd) {}
  void SetExtendedStyle(DWORD style) const;
  void InsertColumn(int index, const std::wstring& heading, int width, int format) const;
  int InsertItem(int index, const std::wstring& text, LPARAM data = 0) const;
  LPARAM ItemData(int item) const;
  void SetItemText(int item, int column, const std::wstring& text) const;
  std::wstring ItemText(int item, int column) const;
  int Count() const;
  int SelectedItem() const;

 private:
  HWND hwnd_;
};

}  // namespace kivo::toolkit
