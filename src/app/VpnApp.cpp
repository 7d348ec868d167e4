#include "app/VpnApp.h"

#include <objbase.h>
#include <winsock2.h>

#include "app/SingleInstance.h"
#include "app/UpdateChecker.h"
#include "app/UpdateDownloader.h"
#include "app/UpdatePaths.h"
#include "app/UpdaterGate.h"
#include "KivoVersion.h"
#include "resource.h"
#include "toolkit/Language.h"
#include "toolkit/Strings.h"
#include "ui/InstanceWindow.h"
#include "ui/MainDlg.h"
#include "ui/UpdateProgressDlg.h"

namespace kivo::app {

namespace {

constexpr const wchar_t* kInstanceName = L"Kivoline";
constexpr const char* kRunningVersion = KIVO_VERSION_TEXT;
constexpr UINT kCopyDataTimeoutMs = 5000;
// How long a download runs before its progress window shows.
constexpr DWORD kProgressDelayMs = 1000;

// The progress window's view of the download job.
class DownloadSource : public ui::UpdateProgressSource {
 public:
  explicit DownloadSource(const kivo::app::UpdateDownloadJob& job) noexcept : job_(job) {}
  long long BytesReceived() const override { return job_.Progress().received; }
  long long BytesExpected() const override { return job_.Progress().expected; }
  bool Finished() const override { return job_.Wait(0); }

 private:
  const kivo::app::UpdateDownloadJob& job_;
};

BOOL CALLBACK OnResourceLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  *reinterpret_cast<WORD*>(param) = language;
  return TRUE;
}

BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  ::EnumResourceLanguagesW(module, type, name, &OnResourceLanguage, param);
  return TRUE;
}

}  // namespace

CVpnApp::CVpnApp() noexcept
    : texts_(kivo::toolkit::LanguageOfSystem(::GetSystemDefaultLangID())) {}

WORD CVpnApp::FindResourceLanguage(HMODULE module) {
  WORD language = 0;
  if (module != nullptr) {
    ::EnumResourceNamesW(module, MAKEINTRESOURCEW(6) /* RT_STRING */, &OnResourceName,
                         reinterpret_cast<LONG_PTR>(&language));
  }
  return language;
}

bool CVpnApp::InitInstance() {
  // 1. The language of every text, the two start-up messages included, was
  // decided with the application object (texts_).

  // 2, 3. One copy per user session. The mutex is only a name: never waited on.
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kInstanceName);
  const DWORD created = ::GetLastError();
  mutex_.Reset(mutex);
  if (kivo::app::IsAnotherCopyRunning(mutex != nullptr, created)) {
    mutex_.Reset();
    if (HWND first = ui::CInstanceWindow::FindRunning()) {
      // The first copy may bring a window of its own to the front (its
      // update's progress window): this copy, started by the user, lets it.
      DWORD firstProcess = 0;
      ::GetWindowThreadProcessId(first, &firstProcess);
      if (firstProcess != 0) ::AllowSetForegroundWindow(firstProcess);
      // A first copy that hangs must not hang this one.
      COPYDATASTRUCT data{};
      DWORD_PTR answer = 0;
      ::SendMessageTimeoutW(first, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                            kCopyDataTimeoutMs, &answer);
    } else {
      ShowMessage(texts_.Text(IDS_ALREADY_RUNNING));
    }
    return false;
  }

  // 4. Sockets.
  WSADATA wsa;
  if (::WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
    ShowMessage(texts_.Text(IDS_SOCKET_FAILED));
    return false;
  }
  socketsStarted_ = true;

  // 5. An updater left by an earlier self-update. A module path cut at the
  // buffer's end would name a file in some parent folder: nothing then.
  std::wstring leftover, exeName;
  if (kivo::app::GetLocalUpdaterPath(leftover, exeName)) ::DeleteFileW(leftover.c_str());

  // 6. The update check, unless the updater has just reported that it could
  // not install the version offered: its command line is the only one read.
  // A downloaded, trusted updater replaces the client.
  updateFailure_ = kivo::app::ParseUpdateFailure(::GetCommandLineW());
  // The checker and the download live until start-up ends (see
  // CUpdateChecker and UpdateDownloadJob).
  kivo::app::CUpdateChecker checker;
  kivo::app::UpdateDownloadJob download;
  if (RunUpdate(checker, download)) return false;

  // 7. The language the system's RAS library is localised in.
  rasLangId_ = FindResourceLanguage(::GetModuleHandleW(L"rasapi32.dll"));

  // 8. COM. The results do not matter to anything that follows.
  comInitialised_ = SUCCEEDED(::CoInitialize(nullptr));
  ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                         nullptr, EOAC_NONE, nullptr);
  // 9. Three-dimensional controls are the platform's own look: nothing to do.

  // 10. The main dialog; its destruction removes the phonebook entry.
  {
    ui::CMainDlg dialog(texts_, nullptr);
    dialog.SetRasLanguage(rasLangId_);
    if (updateFailure_.Failed()) {
      dialog.SetStartNotice(kivo::app::UpdateFailureMessage(updateFailure_, texts_));
    }
    dialog.DoModal();
  }
  return false;
}

bool CVpnApp::RunUpdate(kivo::app::CUpdateChecker& checker, kivo::app::UpdateDownloadJob& download) {
  std::string latestVersion;
  if (checker.IsUpToDate(kRunningVersion, latestVersion)) return false;
  // Offered again what the updater could not install: the next start tries.
  if (updateFailure_.Failed() && latestVersion == updateFailure_.version) return false;
  // A download that takes more than a moment shows its progress, and the
  // user may cancel it: the client then starts as if there were no update.
  if (!download.Start()) return false;
  if (!download.Wait(kProgressDelayMs)) {
    const DownloadSource source(download);
    ui::CUpdateProgressDlg progress(texts_, kivo::toolkit::WidenAscii(latestVersion), source);
    // IDCANCEL: the user's Cancel. A window that could not be made (-1)
    // leaves the download to its own bound.
    if (progress.DoModal() == IDCANCEL) {
      download.Cancel();
      return false;
    }
    download.Wait(INFINITE);
  }
  if (!download.Downloaded()) return false;
  const std::wstring updaterPath = download.UpdaterPath();
  const std::wstring exeName = download.ExeName();
  // Fetched over plain HTTP: only our publisher's updater of the announced
  // version runs. When the shell cannot start it, the window comes up as if
  // there were no update, rather than nothing running at all.
  // The program's name is its one parameter, quoted: it may hold spaces.
  return kivo::app::StartTrustedUpdater(updaterPath, L"\"" + exeName + L"\"", latestVersion) ==
         kivo::app::UpdaterStart::kStarted;
}

int CVpnApp::ExitInstance() {
  mutex_.Reset();
  if (comInitialised_) ::CoUninitialize();
  if (socketsStarted_) ::WSACleanup();
  return kivo::toolkit::Application::ExitInstance();
}

}  // namespace kivo::app
