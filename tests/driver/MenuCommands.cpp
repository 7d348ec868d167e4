// popup_menus, menu_choose, menu_dismiss: popup menus that another process
// tracks (window class "#32768").
#include "Commands.h"
#include "RemoteCall.h"
#include "WindowQuery.h"

namespace kivo::driver {

namespace {

constexpr char kMenuClass[] = "#32768";
// Undocumented but stable: asks a popup menu window for its menu.
constexpr UINT kGetMenuHandle = 0x01E1;  // MN_GETHMENU

std::vector<HWND> OpenMenus() {
  std::vector<HWND> out;
  for (HWND hwnd : TopLevelWindows()) {
    if (::IsWindowVisible(hwnd) && ClassName(hwnd) == kMenuClass) out.push_back(hwnd);
  }
  return out;
}

// Where a menu's items are read: in this process, which works where menu
// handles are shared between processes (Windows), or inside the process
// that owns the menu (needed under Wine 8, where they are not).
class MenuSource {
 public:
  virtual ~MenuSource() = default;
  virtual int Count() = 0;
  virtual std::string Text(int pos) = 0;
  virtual UINT State(int pos) = 0;
  virtual UINT Id(int pos) = 0;
};

class LocalMenu : public MenuSource {
 public:
  explicit LocalMenu(HMENU menu) : menu_(menu) {}
  int Count() override { return ::GetMenuItemCount(menu_); }
  std::string Text(int pos) override {
    wchar_t text[512] = {};
    int n = ::GetMenuStringW(menu_, static_cast<UINT>(pos), text, 512, MF_BYPOSITION);
    return Narrow(text, n > 0 ? static_cast<size_t>(n) : 0);
  }
  UINT State(int pos) override { return ::GetMenuState(menu_, static_cast<UINT>(pos), MF_BYPOSITION); }
  UINT Id(int pos) override { return ::GetMenuItemID(menu_, pos); }

 private:
  HMENU menu_;
};

class RemoteMenu : public MenuSource {
 public:
  RemoteMenu(HMENU menu, DWORD pid, DWORD timeout)
      : menu_(reinterpret_cast<uintptr_t>(menu)), caller_(pid), timeout_(timeout) {}
  int Count() override { return static_cast<int>(caller_.Call("GetMenuItemCount", {menu_}, timeout_)); }
  std::string Text(int pos) override {
    caller_.Call("GetMenuStringW",
                 {menu_, static_cast<uintptr_t>(pos), caller_.TextBuffer(), RemoteCaller::kTextUnits - 1,
                  MF_BYPOSITION},
                 timeout_);
    return caller_.Text();
  }
  UINT State(int pos) override {
    return static_cast<UINT>(
        caller_.Call("GetMenuState", {menu_, static_cast<uintptr_t>(pos), MF_BYPOSITION}, timeout_));
  }
  UINT Id(int pos) override {
    return static_cast<UINT>(caller_.Call("GetMenuItemID", {menu_, static_cast<uintptr_t>(pos)}, timeout_));
  }

 private:
  uintptr_t menu_;
  RemoteCaller caller_;
  DWORD timeout_;
};

Json ReadItems(MenuSource& source) {
  Json out = Json::MakeObject();
  int count = source.Count();
  out.Set("count", count);
  out.Set("readable", count >= 0);
  Json items = Json::MakeArray();
  for (int pos = 0; pos < count && pos < 256; ++pos) {
    UINT state = source.State(pos);
    bool known = state != static_cast<UINT>(-1);
    Json item = Json::MakeObject();
    item.Set("id", static_cast<long long>(static_cast<int>(source.Id(pos))));
    item.Set("text", source.Text(pos));
    item.Set("state", static_cast<long long>(state));
    item.Set("grayed", known && (state & (MF_GRAYED | MF_DISABLED)) != 0);
    item.Set("checked", known && (state & MF_CHECKED) != 0);
    item.Set("separator", known && (state & MF_SEPARATOR) != 0);
    items.Push(std::move(item));
  }
  out.Set("items", std::move(items));
  return out;
}

// Reads in this process first; "via" tells which way worked.
Json ReadMenu(HMENU menu, DWORD pid, DWORD timeout) {
  if (menu == nullptr) {
    Json out = Json::MakeObject();
    out.Set("count", -1);
    out.Set("readable", false);
    out.Set("items", Json::MakeArray());
    out.Set("via", Json());
    return out;
  }
  LocalMenu local(menu);
  if (local.Count() >= 0) {
    Json out = ReadItems(local);
    out.Set("via", "local");
    return out;
  }
  RemoteMenu remote(menu, pid, timeout);
  Json out = ReadItems(remote);
  out.Set("via", "remote");
  return out;
}

Json PopupMenus(const Args& args) {
  Json out = Json::MakeArray();
  for (HWND hwnd : OpenMenus()) {
    Json d = Describe(hwnd, args.Timeout(), false);
    auto menu = reinterpret_cast<HMENU>(SendWithTimeout(hwnd, kGetMenuHandle, 0, 0, args.Timeout()));
    d.Set("hmenu", HandleJson(menu));
    Json items = ReadMenu(menu, ProcessOf(hwnd), args.Timeout());
    for (const auto& [key, value] : items.AsObject()) d.Set(key, value);
    out.Push(std::move(d));
  }
  return out;
}

void PostKey(HWND hwnd, UINT vk) {
  ::PostMessageW(hwnd, WM_KEYDOWN, vk, 1);
  ::PostMessageW(hwnd, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

HWND MenuWindow(const Args& args) {
  if (args.Has("hwnd")) return args.Window("hwnd");
  auto menus = OpenMenus();
  if (menus.empty()) throw CommandError(kNoWindow, "no popup menu is open");
  return menus.front();
}

// Chooses the item at position "pos" with the keyboard, as a user would:
// the menu's own loop skips separators and refuses grayed items.
Json MenuChoose(const Args& args) {
  HWND hwnd = MenuWindow(args);
  int64_t pos = args.Integer("pos");
  if (pos < 0 || pos > 255) throw CommandError(kBadRequest, "'pos' must be 0..255");
  for (int64_t i = 0; i <= pos; ++i) PostKey(hwnd, VK_DOWN);
  PostKey(hwnd, VK_RETURN);
  return true;
}

Json MenuDismiss(const Args& args) {
  PostKey(MenuWindow(args), VK_ESCAPE);
  return true;
}

}  // namespace

void AddMenuCommands(CommandTable& table) {
  table.Add("popup_menus", PopupMenus);
  table.Add("menu_choose", MenuChoose);
  table.Add("menu_dismiss", MenuDismiss);
}

}  // namespace kivo::driver
