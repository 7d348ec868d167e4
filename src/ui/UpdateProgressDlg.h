// The small window of a slow update download: "Kivoline", a line naming
// the version, a bar of the bytes received against the announced length and
// Cancel. Start-up shows it once the download has taken a second; it ends by
// itself when the download does (IDOK), or with Cancel (IDCANCEL). While it
// shows, a second copy of the client brings it to the front.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/Dialog.h"
#include "toolkit/Language.h"
#include "toolkit/MessageMap.h"
#include "ui/InstanceWindow.h"

namespace kivo::ui {

// What the window shows, read on its own thread while the download runs on
// another.
class UpdateProgressSource {
 public:
  virtual ~UpdateProgressSource() = default;
  virtual long long BytesReceived() const = 0;
  // 0 while the length is not known.
  virtual long long BytesExpected() const = 0;
  virtual bool Finished() const = 0;
};

class CUpdateProgressDlg : public kivo::toolkit::Dialog {
 public:
  // `texts` and `source` outlive the window; `version` is the version the
  // host offers.
  CUpdateProgressDlg(const kivo::toolkit::TextSet& texts, std::wstring version,
                     const UpdateProgressSource& source);

  // The bar's range: its position is the received share of it.
  static constexpr int kBarRange = 1000;
  // The bar's position for `received` of `expected` bytes.
  static int BarPosition(long long received, long long expected) noexcept;

 protected:
  BOOL OnInitDialog() override;

 private:
  void OnTimer(UINT_PTR id);
  BOOL OnCopyData(HWND sender, COPYDATASTRUCT* data);
  void Refresh();

  const kivo::toolkit::TextSet& texts_;
  std::wstring version_;
  const UpdateProgressSource& source_;
  CInstanceWindow instanceWindow_;

  KIVO_DECLARE_MESSAGE_MAP(CUpdateProgressDlg, kivo::toolkit::Dialog)
};

}  // namespace kivo::ui
