// Message maps: one handler per message or control notification, with typed
// arguments. A class builds its map once:
//
//   const MessageMap<CMainDlg>& CMainDlg::GetMessageMap() {
//     static const MessageMap<CMainDlg> map = MessageMap<CMainDlg>()
//         .Timer(&CMainDlg::OnTimer)
//         .Command(1008, BN_CLICKED, &CMainDlg::OnIntelligent);
//     return map;
//   }
//
// and forwards ProcessMessage to it (KIVO_DECLARE_MESSAGE_MAP does both).
// A handler that wants the default processing as well calls
// SetMsgHandled(false) on its window.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace kivo::toolkit {

template <class T>
class MessageMap {
 public:
  using Raw = std::function<LRESULT(T&, WPARAM, LPARAM)>;

  MessageMap& Message(UINT msg, LRESULT (T::*h)(WPARAM, LPARAM)) {
    return Add(msg, [h](T& t, WPARAM w, LPARAM l) { return (t.*h)(w, l); });
  }
  // WM_COMMAND from control `id` with notification `code`.
  MessageMap& Command(int id, WORD code, void (T::*h)()) {
    entries_.push_back({WM_COMMAND, id, code, [h](T& t, WPARAM, LPARAM) {
                          (t.*h)();
                          return LRESULT{0};
                        }});
    return *this;
  }
  // The same, for a handler shared by several controls: it gets the id.
  MessageMap& Command(int id, WORD code, void (T::*h)(int)) {
    entries_.push_back({WM_COMMAND, id, code, [h, id](T& t, WPARAM, LPARAM) {
                          (t.*h)(id);
                          return LRESULT{0};
                        }});
    return *this;
  }
  MessageMap& Timer(void (T::*h)(UINT_PTR)) {
    return Add(WM_TIMER, [h](T& t, WPARAM w, LPARAM) {
      (t.*h)(static_cast<UINT_PTR>(w));
      return LRESULT{0};
    });
  }
  MessageMap& SysCommand(void (T::*h)(UINT, LPARAM)) {
    return Add(WM_SYSCOMMAND, [h](T& t, WPARAM w, LPARAM l) {
      (t.*h)(static_cast<UINT>(w), l);
      return LRESULT{0};
    });
  }
  MessageMap& Paint(void (T::*h)()) { return Simple(WM_PAINT, h); }
  MessageMap& Close(void (T::*h)()) { return Simple(WM_CLOSE, h); }
  MessageMap& Destroy(void (T::*h)()) { return Simple(WM_DESTROY, h); }
  MessageMap& QueryDragIcon(HICON (T::*h)()) {
    return Add(WM_QUERYDRAGICON, [h](T& t, WPARAM, LPARAM) { return reinterpret_cast<LRESULT>((t.*h)()); });
  }
  // Mouse messages whose handlers take the key flags and the client point.
  MessageMap& Mouse(UINT msg, void (T::*h)(UINT, POINT)) {
    return Add(msg, [h](T& t, WPARAM w, LPARAM l) {
      POINT pt{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
      (t.*h)(static_cast<UINT>(w), pt);
      return LRESULT{0};
    });
  }
  // Every WM_CTLCOLOR* message; the handler gets the surface, the control
  // and the message (the kind of control).
  MessageMap& CtlColor(HBRUSH (T::*h)(HDC, HWND, UINT)) {
    for (UINT msg : {WM_CTLCOLORMSGBOX, WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX, WM_CTLCOLORBTN, WM_CTLCOLORDLG,
                     WM_CTLCOLORSCROLLBAR, WM_CTLCOLORSTATIC}) {
      Add(msg, [h, msg](T& t, WPARAM w, LPARAM l) {
        return reinterpret_cast<LRESULT>((t.*h)(reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l), msg));
      });
    }
    return *this;
  }
  MessageMap& CopyData(BOOL (T::*h)(HWND, COPYDATASTRUCT*)) {
    return Add(WM_COPYDATA, [h](T& t, WPARAM w, LPARAM l) {
      return static_cast<LRESULT>((t.*h)(reinterpret_cast<HWND>(w), reinterpret_cast<COPYDATASTRUCT*>(l)));
    });
  }

  // Runs the handler mapped to the message, if any. `handled` is the
  // window's flag that the handler may clear to ask for default processing.
  bool Dispatch(T& target, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result, bool& handled) const {
    for (const Entry& e : entries_) {
      if (e.msg != msg) continue;
      if (msg == WM_COMMAND && (static_cast<int>(LOWORD(wp)) != e.id || HIWORD(wp) != e.code)) {
        continue;
      }
      handled = true;
      result = e.fn(target, wp, lp);
      return handled;
    }
    return false;
  }

 private:
  struct Entry {
    UINT msg;
    int id;
    WORD code;
    Raw fn;
  };

  MessageMap& Add(UINT msg, Raw fn) {
    entries_.push_back({msg, 0, 0, std::move(fn)});
    return *this;
  }
  MessageMap& Simple(UINT msg, void (T::*h)()) {
    return Add(msg, [h](T& t, WPARAM, LPARAM) {
      (t.*h)();
      return LRESULT{0};
    });
  }

  std::vector<Entry> entries_;
};

}  // namespace kivo::toolkit

// Declares a class's message map and routes its messages through it before
// the base class's map.
#define KIVO_DECLARE_MESSAGE_MAP(Class, Base)                                                \
 protected:                                                                                  \
  static const ::kivo::toolkit::MessageMap<Class>& GetMessageMap();                          \
  bool ProcessMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {            \
    if (GetMessageMap().Dispatch(*this, msg, wp, lp, result, MsgHandledFlag())) return true; \
    return Base::ProcessMessage(msg, wp, lp, result);                                        \
  }                                                                                          \
                                                                                             \
 private:
