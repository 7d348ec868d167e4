// combo_items, combo_sel, combo_select, check, set_check, listview_items,
// listview_select, listview_item_rect, tooltips, remote_send.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "Commands.h"
#include "RemoteMemory.h"
#include "WindowQuery.h"

namespace kivo::driver {

namespace {

// Room for one item text in the target, in UTF-16 units. Tooltips copy up
// to 1024 units into a caller's buffer whatever size it announces.
constexpr int kTextUnits = 1024;
// Upper bound on the items a list or combo box read returns.
constexpr LRESULT kMaxItems = 10000;

// A record of type T followed by a text buffer, inside the process that owns
// a window, so that a message to that window can fill both.
template <typename T>
class RemoteRecord {
 public:
  explicit RemoteRecord(HWND owner)
      : process_(OpenForMemory(ProcessOf(owner))), block_(process_.Get(), sizeof(T) + kTextUnits * 2 + 16) {}

  LPARAM Address() const { return static_cast<LPARAM>(block_.Address()); }
  wchar_t* TextAddress() const { return reinterpret_cast<wchar_t*>(block_.Address() + kTextOffset); }
  void Put(const T& record) const { block_.Write(0, &record, sizeof(T)); }
  T Get() const {
    T record{};
    block_.Read(0, &record, sizeof(T));
    return record;
  }
  // The text buffer up to its first NUL, and at most `units` long when given.
  std::string Text(int units = -1) const {
    std::wstring text(kTextUnits, L'\0');
    block_.Read(kTextOffset, text.data(), text.size() * sizeof(wchar_t));
    size_t n = std::min(text.find(L'\0'), text.size());
    if (units >= 0) n = std::min(n, static_cast<size_t>(units));
    return Narrow(text.data(), n);
  }
  void ClearText() const {
    wchar_t zero[2] = {};
    block_.Write(kTextOffset, zero, sizeof zero);
  }

 private:
  static constexpr size_t kTextOffset = (sizeof(T) + 15) & ~size_t{15};

  UniqueKernelHandle process_;
  RemoteBlock block_;
};

LRESULT Count(HWND hwnd, UINT msg, DWORD timeout) {
  LRESULT n = SendWithTimeout(hwnd, msg, 0, 0, timeout);
  if (n < 0) return 0;
  return n > kMaxItems ? kMaxItems : n;
}

// CB_GETLBTEXT carries a buffer pointer that Wine copies across processes
// for combo boxes with strings, as Windows does.
std::string ComboItem(HWND combo, LRESULT index, DWORD timeout) {
  LRESULT length = SendWithTimeout(combo, CB_GETLBTEXTLEN, index, 0, timeout);
  if (length == CB_ERR || length < 0) return {};
  if (length > 4096) length = 4096;
  std::wstring buf(static_cast<size_t>(length) + 1, L'\0');
  LRESULT copied = SendWithTimeout(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buf.data()), timeout);
  if (copied == CB_ERR || copied < 0) return {};
  return Narrow(buf.data(), std::min<size_t>(static_cast<size_t>(copied), static_cast<size_t>(length)));
}

Json ComboItems(const Args& args) {
  HWND combo = args.Window("hwnd");
  Json out = Json::MakeArray();
  LRESULT n = Count(combo, CB_GETCOUNT, args.Timeout());
  for (LRESULT i = 0; i < n; ++i) out.Push(ComboItem(combo, i, args.Timeout()));
  return out;
}

Json ComboSel(const Args& args) {
  HWND combo = args.Window("hwnd");
  LRESULT sel = SendWithTimeout(combo, CB_GETCURSEL, 0, 0, args.Timeout());
  Json out = Json::MakeObject();
  out.Set("index", static_cast<long long>(sel));
  out.Set("text", sel >= 0 ? Json(ComboItem(combo, sel, args.Timeout())) : Json());
  out.Set("dropped", SendWithTimeout(combo, CB_GETDROPPEDSTATE, 0, 0, args.Timeout()) != 0);
  return out;
}

// CB_SETCURSEL, followed by the CBN_SELCHANGE notification a user's choice
// would send to the parent ("notify", default true).
Json ComboSelect(const Args& args) {
  HWND combo = args.Window("hwnd");
  auto index = static_cast<WPARAM>(args.Bits("index", 0));
  LRESULT result = SendWithTimeout(combo, CB_SETCURSEL, index, 0, args.Timeout());
  if (args.Flag("notify", true)) {
    HWND parent = ::GetParent(combo);
    WPARAM wp = MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE);
    SendWithTimeout(parent, WM_COMMAND, wp, reinterpret_cast<LPARAM>(combo), args.Timeout());
  }
  return static_cast<long long>(result);
}

Json Check(const Args& args) {
  return static_cast<long long>(SendWithTimeout(args.Window("hwnd"), BM_GETCHECK, 0, 0, args.Timeout()));
}

Json SetCheck(const Args& args) {
  SendWithTimeout(args.Window("hwnd"), BM_SETCHECK, args.Bits("state", BST_CHECKED), 0, args.Timeout());
  return true;
}

std::string ListViewText(HWND list, const RemoteRecord<LVITEMW>& remote, int item, int sub, DWORD timeout) {
  LVITEMW lv{};
  lv.mask = LVIF_TEXT;
  lv.iItem = item;
  lv.iSubItem = sub;
  lv.pszText = remote.TextAddress();
  lv.cchTextMax = kTextUnits;
  remote.Put(lv);
  remote.ClearText();
  LRESULT n = SendWithTimeout(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), remote.Address(), timeout);
  return remote.Text(static_cast<int>(n));
}

Json ListViewColumns(HWND list, int columns, DWORD timeout) {
  RemoteRecord<LVCOLUMNW> remote(list);
  Json out = Json::MakeArray();
  for (int c = 0; c < columns; ++c) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = remote.TextAddress();
    col.cchTextMax = kTextUnits;
    remote.Put(col);
    remote.ClearText();
    bool ok = SendWithTimeout(list, LVM_GETCOLUMNW, static_cast<WPARAM>(c), remote.Address(), timeout) != 0;
    out.Push(ok ? Json(remote.Text()) : Json());
  }
  return out;
}

// Every item's texts by column, the column headings and the selection.
Json ListViewItems(const Args& args) {
  HWND list = args.Window("hwnd");
  DWORD timeout = args.Timeout();
  auto header = reinterpret_cast<HWND>(SendWithTimeout(list, LVM_GETHEADER, 0, 0, timeout));
  int columns = 1;
  if (header != nullptr) {
    LRESULT n = SendWithTimeout(header, HDM_GETITEMCOUNT, 0, 0, timeout);
    if (n > 0 && n < 256) columns = static_cast<int>(n);
  }
  LRESULT count = Count(list, LVM_GETITEMCOUNT, timeout);
  RemoteRecord<LVITEMW> remote(list);
  Json items = Json::MakeArray();
  Json selected = Json::MakeArray();
  for (int i = 0; i < count; ++i) {
    Json row = Json::MakeArray();
    for (int c = 0; c < columns; ++c) row.Push(ListViewText(list, remote, i, c, timeout));
    items.Push(std::move(row));
    if (SendWithTimeout(list, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED, timeout) &
        LVIS_SELECTED)
      selected.Push(i);
  }
  Json out = Json::MakeObject();
  out.Set("columns", header != nullptr ? ListViewColumns(list, columns, timeout) : Json::MakeArray());
  out.Set("items", std::move(items));
  out.Set("selected", std::move(selected));
  return out;
}

// Selects and focuses one item (clearing the rest), as a click would; the
// list view sends its LVN_ITEMCHANGED notifications itself.
Json ListViewSelect(const Args& args) {
  HWND list = args.Window("hwnd");
  auto index = static_cast<int>(args.Integer("index"));
  RemoteRecord<LVITEMW> remote(list);
  LVITEMW lv{};
  lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  lv.state = 0;
  remote.Put(lv);
  SendWithTimeout(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), remote.Address(), args.Timeout());
  lv.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.Put(lv);
  bool ok = SendWithTimeout(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), remote.Address(),
                            args.Timeout()) != 0;
  SendWithTimeout(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE, args.Timeout());
  return ok;
}

// An item's rectangle in screen coordinates (for a real double click).
Json ListViewItemRect(const Args& args) {
  HWND list = args.Window("hwnd");
  auto index = static_cast<WPARAM>(args.Integer("index"));
  RemoteRecord<RECT> remote(list);
  RECT r{};
  r.left = LVIR_BOUNDS;
  remote.Put(r);
  if (!SendWithTimeout(list, LVM_GETITEMRECT, index, remote.Address(), args.Timeout())) return Json();
  r = remote.Get();
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ::MapWindowPoints(list, nullptr, corners, 2);
  return Json(Json::Array{corners[0].x, corners[0].y, corners[1].x, corners[1].y});
}

Json TooltipTools(HWND tip, DWORD timeout) {
  Json tools = Json::MakeArray();
  LRESULT n = Count(tip, TTM_GETTOOLCOUNT, timeout);
  RemoteRecord<TTTOOLINFOW> remote(tip);
  for (LRESULT i = 0; i < n; ++i) {
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.lpszText = remote.TextAddress();
    remote.Put(ti);
    remote.ClearText();
    if (!SendWithTimeout(tip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), remote.Address(), timeout)) continue;
    ti = remote.Get();
    Json tool = Json::MakeObject();
    tool.Set("hwnd", HandleJson(ti.hwnd));
    tool.Set("id", static_cast<long long>(ti.uId));
    tool.Set("flags", static_cast<long long>(ti.uFlags));
    // LPSTR_TEXTCALLBACK and resource ids leave the buffer untouched.
    tool.Set("text", remote.Text());
    tools.Push(std::move(tool));
  }
  return tools;
}

// Wine's tooltip control answers no TTM_GETTITLE. Its heading is read from
// the control's own record instead, which its first window extra bytes
// point at, once the record proves to have Wine's layout: its own window
// first, the tip text next (1024 units), then flags and the tool count.
// Null when the record does not match (another platform or version).
struct WineTooltipRecord {
  HWND self;
  WCHAR tipText[1024];
  BOOL active, trackActive;
  UINT toolCount;
  COLORREF background, text;
  HFONT font, titleFont;
  INT trackX, trackY, maxTipWidth, tool, currentTool, trackTool, reshowTime, autoPopTime, initialTime;
  RECT margin;
  BOOL toolBelow;
  LPWSTR title;
  HICON titleIcon;
  void* tools;
};
#ifndef _WIN64
static_assert(offsetof(WineTooltipRecord, toolCount) == 2060 && offsetof(WineTooltipRecord, title) == 2136 &&
                  sizeof(WineTooltipRecord) == 2148,
              "Wine's 32-bit tooltip record");
#endif

Json TooltipHeading(HWND tip, LRESULT toolCount) {
  auto address = static_cast<uintptr_t>(::GetWindowLongPtrW(tip, 0));
  if (address == 0) return Json();
  try {
    UniqueKernelHandle process = OpenForMemory(ProcessOf(tip));
    WineTooltipRecord record{};
    SIZE_T done = 0;
    if (!::ReadProcessMemory(process.Get(), reinterpret_cast<void*>(address), &record, sizeof record,
                             &done) ||
        done != sizeof record) {
      return Json();
    }
    if (record.self != tip || record.toolCount != static_cast<UINT>(toolCount)) return Json();
    if (record.title == nullptr) return Json("");
    wchar_t text[128] = {};
    ::ReadProcessMemory(process.Get(), record.title, text, sizeof text - sizeof(wchar_t), &done);
    return Narrow(text, wcsnlen(text, 127));
  } catch (const CommandError&) {
    return Json();
  }
}

// Tooltip windows (those of one process with "pid"): visibility, place,
// the text shown ("text"), the heading, and every tool with its text.
// Balloons are tooltips too.
Json Tooltips(const Args& args) {
  DWORD pid = static_cast<DWORD>(args.Bits("pid", 0));
  bool hidden = args.Flag("hidden", true);
  Json out = Json::MakeArray();
  for (HWND hwnd : TopLevelWindows()) {
    if (ClassName(hwnd) != TOOLTIPS_CLASSA) continue;
    if (pid != 0 && ProcessOf(hwnd) != pid) continue;
    if (!hidden && !::IsWindowVisible(hwnd)) continue;
    Json d = Describe(hwnd, args.Timeout(), false);
    d.Set("balloon", (::GetWindowLongW(hwnd, GWL_STYLE) & TTS_BALLOON) != 0);
    d.Set("text", MessageText(hwnd, args.Timeout()));
    d.Set("heading", TooltipHeading(hwnd, Count(hwnd, TTM_GETTOOLCOUNT, args.Timeout())));
    d.Set("tools", TooltipTools(hwnd, args.Timeout()));
    out.Push(std::move(d));
  }
  return out;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) throw CommandError(kBadRequest, "'data' must hold pairs of hex digits");
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw CommandError(kBadRequest, "'data' must hold hex digits");
  };
  std::vector<uint8_t> out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(digit(hex[2 * i]) * 16 + digit(hex[2 * i + 1]));
  return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// A message whose parameter points at a block in the target's memory:
// "data" (hex) is copied to the start of a block of "size" bytes; each
// offset in "patch" holds a pointer-sized offset into the block (4 bytes
// in a 32-bit driver, 8 in a 64-bit one) that is turned into an address
// first, so records may point at buffers in the same block. "into" says which parameter carries the block
// ("lparam" by default); the other one is given as a number. Returns the result and the whole block
// afterwards.
Json RemoteSend(const Args& args) {
  HWND hwnd = args.Window("hwnd");
  auto msg = static_cast<UINT>(args.Integer("msg"));
  std::vector<uint8_t> data = FromHex(args.OptionalString("data").value_or(""));
  int64_t size = args.Integer("size", static_cast<int64_t>(data.size()));
  if (size < static_cast<int64_t>(data.size()) || size <= 0)
    throw CommandError(kBadRequest, "'size' too small");
  UniqueKernelHandle process = OpenForMemory(ProcessOf(hwnd));
  RemoteBlock block(process.Get(), static_cast<size_t>(size));
  std::vector<uint8_t> image(static_cast<size_t>(size), 0);
  std::copy(data.begin(), data.end(), image.begin());
  for (int64_t offset : args.IntegerList("patch")) {
    if (offset < 0 || offset + static_cast<int64_t>(sizeof(uintptr_t)) > size)
      throw CommandError(kBadRequest, "'patch' offset outside the block");
    uintptr_t relative = 0;
    std::memcpy(&relative, &image[static_cast<size_t>(offset)], sizeof relative);
    if (relative >= static_cast<uint64_t>(size))
      throw CommandError(kBadRequest, "patched value outside the block");
    uintptr_t absolute = block.Address() + relative;
    std::memcpy(&image[static_cast<size_t>(offset)], &absolute, sizeof absolute);
  }
  block.Write(0, image.data(), image.size());
  std::string into = args.OptionalString("into").value_or("lparam");
  WPARAM wp = args.Bits("wparam", 0);
  LPARAM lp = static_cast<LPARAM>(args.Bits("lparam", 0));
  if (into == "lparam") {
    lp = static_cast<LPARAM>(block.Address());
  } else if (into == "wparam") {
    wp = static_cast<WPARAM>(block.Address());
  } else {
    throw CommandError(kBadRequest, "'into' must be lparam or wparam");
  }
  LRESULT result = SendWithTimeout(hwnd, msg, wp, lp, args.Timeout());
  Json out = Json::MakeObject();
  out.Set("result", static_cast<long long>(result));
  out.Set("address", static_cast<long long>(block.Address()));
  out.Set("data", ToHex(block.Read(0, static_cast<size_t>(size))));
  return out;
}

}  // namespace

void AddControlCommands(CommandTable& table) {
  table.Add("combo_items", ComboItems);
  table.Add("combo_sel", ComboSel);
  table.Add("combo_select", ComboSelect);
  table.Add("check", Check);
  table.Add("set_check", SetCheck);
  table.Add("listview_items", ListViewItems);
  table.Add("listview_select", ListViewSelect);
  table.Add("listview_item_rect", ListViewItemRect);
  table.Add("tooltips", Tooltips);
  table.Add("remote_send", RemoteSend);
}

}  // namespace kivo::driver
