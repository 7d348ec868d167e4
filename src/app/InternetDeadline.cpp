#include "app/InternetDeadline.h"

namespace kivo::app {

CInternetDeadline::CInternetDeadline(DWORD boundMs) noexcept : m_nBoundMs(boundMs) {
  bool watching = false;
  try {
    watching = m_evFinished.Valid() && m_thread.Start([this] { Watch(); });
  } catch (...) {
  }
  // Without a watchdog nothing could end a blocked call: the exchange is
  // then refused from the start rather than left unbounded.
  if (!watching) m_bExpired.store(true);
}

CInternetDeadline::~CInternetDeadline() {
  m_evFinished.Set();
  m_thread.Join();
  toolkit::Lock lock(m_csHandles);
  CloseAll();
}

HINTERNET CInternetDeadline::Hold(HINTERNET handle) noexcept {
  if (handle == nullptr) return nullptr;
  toolkit::Lock lock(m_csHandles);
  if (m_bExpired.load() || m_nHeld == kMaxHandles) {
    ::InternetCloseHandle(handle);
    return nullptr;
  }
  m_arrHandles[m_nHeld++] = handle;
  return handle;
}

void CInternetDeadline::Watch() noexcept {
  if (m_evFinished.Wait(m_nBoundMs)) return;
  toolkit::Lock lock(m_csHandles);
  m_bExpired.store(true);
  CloseAll();
}

void CInternetDeadline::CloseAll() noexcept {
  while (m_nHeld > 0) {
    ::InternetCloseHandle(m_arrHandles[--m_nHeld]);
    m_arrHandles[m_nHeld] = nullptr;
  }
}

}  // namespace kivo::app
