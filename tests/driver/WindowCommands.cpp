// find_window, find_windows, window_info, children, text, set_text, send,
// post, click, command, key, foreground, set_foreground, process_windows,
// dialogs (alias message_boxes).
#include <optional>

#include "Commands.h"
#include "WindowQuery.h"

namespace kivo::driver {

namespace {

// Which top-level windows a search accepts.
struct WindowFilter {
  std::optional<std::string> title;
  std::optional<std::string> cls;
  DWORD pid = 0;
  bool hidden = false;

  explicit WindowFilter(const Args& args)
      : title(args.OptionalString("title")),
        cls(args.OptionalString("class")),
        pid(static_cast<DWORD>(args.Bits("pid", 0))),
        hidden(args.Flag("hidden", false)) {}

  bool Accepts(HWND hwnd) const {
    if (!hidden && !::IsWindowVisible(hwnd)) return false;
    if (pid != 0 && ProcessOf(hwnd) != pid) return false;
    if (cls && ClassName(hwnd) != *cls) return false;
    if (title && Caption(hwnd) != *title) return false;
    return true;
  }
};

Json FindWindow(const Args& args) {
  WindowFilter filter(args);
  for (HWND hwnd : TopLevelWindows()) {
    if (filter.Accepts(hwnd)) return HandleJson(hwnd);
  }
  return Json(0);
}

Json FindWindows(const Args& args) {
  WindowFilter filter(args);
  Json out = Json::MakeArray();
  for (HWND hwnd : TopLevelWindows()) {
    if (filter.Accepts(hwnd)) out.Push(Describe(hwnd, args.Timeout(), false));
  }
  return out;
}

Json ProcessWindows(const Args& args) {
  DWORD pid = static_cast<DWORD>(args.Integer("pid"));
  bool hidden = args.Flag("hidden", true);
  Json out = Json::MakeArray();
  for (HWND hwnd : TopLevelWindows()) {
    if (ProcessOf(hwnd) != pid || (!hidden && !::IsWindowVisible(hwnd))) continue;
    out.Push(Describe(hwnd, args.Timeout(), false));
  }
  return out;
}

Json WindowInfo(const Args& args) {
  return Describe(args.Window("hwnd"), args.Timeout(), args.Flag("text", false));
}

Json Children(const Args& args) {
  HWND parent = args.Window("hwnd");
  Json out = Json::MakeArray();
  for (HWND child : ChildWindows(parent, args.Flag("deep", false))) {
    out.Push(Describe(child, args.Timeout(), true));
  }
  return out;
}

Json Text(const Args& args) { return MessageText(args.Window("hwnd"), args.Timeout()); }

Json SetText(const Args& args) {
  HWND hwnd = args.Window("hwnd");
  std::wstring text = Widen(args.String("text"));
  return SendWithTimeout(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), args.Timeout()) != 0;
}

Json Send(const Args& args) {
  HWND hwnd = args.Window("hwnd");
  auto msg = static_cast<UINT>(args.Integer("msg"));
  return static_cast<long long>(SendWithTimeout(hwnd, msg, args.Bits("wparam", 0),
                                                static_cast<LPARAM>(args.Bits("lparam", 0)), args.Timeout()));
}

Json Post(const Args& args) {
  HWND hwnd = args.Window("hwnd");
  auto msg = static_cast<UINT>(args.Integer("msg"));
  return ::PostMessageW(hwnd, msg, args.Bits("wparam", 0), static_cast<LPARAM>(args.Bits("lparam", 0))) !=
         FALSE;
}

// A click posts BM_CLICK by default, as a user's click would arrive: the
// driver returns at once even if the click opens a modal dialog. With
// "sync" it waits until the button has handled the click.
Json Click(const Args& args) {
  HWND hwnd = args.Window("hwnd");
  if (args.Flag("sync", false)) {
    SendWithTimeout(hwnd, BM_CLICK, 0, 0, args.Timeout());
    return true;
  }
  return ::PostMessageW(hwnd, BM_CLICK, 0, 0) != FALSE;
}

// WM_COMMAND to `hwnd` for control id "control" with notification "code";
// lParam is the control's window (or "lparam" when given, e.g. 0 for menu
// commands). ("id" names the request itself.)
// Sent and waited for by default; "sync": false posts it instead.
Json Command(const Args& args) {
  HWND parent = args.Window("hwnd");
  auto id = static_cast<WORD>(args.Integer("control"));
  auto code = static_cast<WORD>(args.Integer("code", 0));
  LPARAM lp = reinterpret_cast<LPARAM>(::GetDlgItem(parent, id));
  if (args.Has("lparam")) lp = static_cast<LPARAM>(args.Bits("lparam", 0));
  WPARAM wp = MAKEWPARAM(id, code);
  if (args.Flag("sync", true))
    return static_cast<long long>(SendWithTimeout(parent, WM_COMMAND, wp, lp, args.Timeout()));
  return ::PostMessageW(parent, WM_COMMAND, wp, lp) != FALSE;
}

// Posts a key press (down, optional character, up) to a window, the way the
// keyboard would deliver it to the focused control.
Json Key(const Args& args) {
  HWND hwnd = args.Window("hwnd");
  auto vk = static_cast<UINT>(args.Integer("vk"));
  if (vk == 0 || vk > 0xFE) throw CommandError(kBadRequest, "'vk' must be 1..254");
  UINT scan = ::MapVirtualKeyW(vk, 0 /* MAPVK_VK_TO_VSC */);
  // Repeat count 1 and the scan code; a release also sets the previous-state
  // and transition bits.
  auto down = static_cast<LPARAM>(1u | (scan << 16));
  auto up = static_cast<LPARAM>(1u | (scan << 16) | 0xC0000000u);
  bool ok = ::PostMessageW(hwnd, WM_KEYDOWN, vk, down) != FALSE;
  auto ch = args.Integer("char", 0);
  if (ch > 0 && ch <= 0xFFFF)
    ok = ok && ::PostMessageW(hwnd, WM_CHAR, static_cast<WPARAM>(ch), down) != FALSE;
  return ok && ::PostMessageW(hwnd, WM_KEYUP, vk, up) != FALSE;
}

Json Foreground(const Args& args) {
  HWND hwnd = ::GetForegroundWindow();
  if (hwnd == nullptr) return Json();
  return Describe(hwnd, args.Timeout(), false);
}

Json SetForeground(const Args& args) { return ::SetForegroundWindow(args.Window("hwnd")) != FALSE; }

// The message text of a message box is a static with this id (Windows and
// Wine alike); other dialogs have no such control.
constexpr int kMessageBoxTextId = 0xFFFF;

// A dialog box as a test sees it: caption, the texts of its static
// controls, its buttons, and whether it shows an icon; for a message box
// also its message.
Json DescribeDialog(HWND dialog, DWORD timeout) {
  Json d = Json::MakeObject();
  d.Set("hwnd", HandleJson(dialog));
  d.Set("pid", static_cast<long long>(ProcessOf(dialog)));
  d.Set("caption", Caption(dialog));
  d.Set("owner", HandleJson(::GetWindow(dialog, GW_OWNER)));
  Json texts = Json::MakeArray();
  Json buttons = Json::MakeArray();
  bool icon = false;
  Json message;
  for (HWND child : ChildWindows(dialog, false)) {
    std::string cls = ClassName(child);
    LONG style = ::GetWindowLongW(child, GWL_STYLE);
    bool visible = ::IsWindowVisible(child) != FALSE;
    if (_stricmp(cls.c_str(), "Static") == 0) {
      if ((style & SS_TYPEMASK) == SS_ICON) {
        icon = icon || visible;
      } else if (visible) {
        std::string text = MessageText(child, timeout);
        if (::GetDlgCtrlID(child) == kMessageBoxTextId) message = text;
        if (!text.empty()) texts.Push(text);
      }
    } else if (_stricmp(cls.c_str(), "Button") == 0 && visible) {
      Json b = Json::MakeObject();
      b.Set("hwnd", HandleJson(child));
      b.Set("id", static_cast<long long>(::GetDlgCtrlID(child)));
      b.Set("text", MessageText(child, timeout));
      b.Set("enabled", ::IsWindowEnabled(child) != FALSE);
      buttons.Push(std::move(b));
    }
  }
  d.Set("texts", std::move(texts));
  d.Set("buttons", std::move(buttons));
  d.Set("icon", icon);
  d.Set("message_box", !message.IsNull());
  d.Set("message", std::move(message));
  return d;
}

Json Dialogs(const Args& args) {
  DWORD pid = static_cast<DWORD>(args.Bits("pid", 0));
  Json out = Json::MakeArray();
  for (HWND hwnd : TopLevelWindows()) {
    if (!::IsWindowVisible(hwnd) || ClassName(hwnd) != "#32770") continue;
    if (pid != 0 && ProcessOf(hwnd) != pid) continue;
    try {
      out.Push(DescribeDialog(hwnd, args.Timeout()));
    } catch (const CommandError& error) {
      // A dialog that closes while it is being read is no longer listed:
      // its controls go first, the dialog's own window last.
      if (error.code() != kNoWindow) throw;
    }
  }
  return out;
}

}  // namespace

void AddWindowCommands(CommandTable& table) {
  table.Add("find_window", FindWindow);
  table.Add("find_windows", FindWindows);
  table.Add("process_windows", ProcessWindows);
  table.Add("window_info", WindowInfo);
  table.Add("children", Children);
  table.Add("text", Text);
  table.Add("set_text", SetText);
  table.Add("send", Send);
  table.Add("post", Post);
  table.Add("click", Click);
  table.Add("command", Command);
  table.Add("key", Key);
  table.Add("foreground", Foreground);
  table.Add("set_foreground", SetForeground);
  table.Add("dialogs", Dialogs);
  table.Add("message_boxes", Dialogs);
}

}  // namespace kivo::driver
