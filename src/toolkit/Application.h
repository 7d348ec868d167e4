// The application object: one per process. It runs InitInstance and
// ExitInstance. Windows get what they need from their owners, not from here.
#pragma once

#include <windows.h>

#include <string>

namespace kivo::toolkit {

class Application {
 public:
  Application() noexcept;
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Runs InitInstance; when it returns false (the program's work is done),
  // runs ExitInstance and returns its exit code. A true result enters a
  // message loop until WM_QUIT.
  int Run(HINSTANCE instance);

  // The executable's file name without directory and extension.
  static std::string Title();
  // A message box captioned with the title, without an owner (start-up
  // messages come before any window).
  int MessageBox(const std::string& text, UINT type = MB_OK) const;

 protected:
  virtual bool InitInstance() = 0;
  virtual int ExitInstance() { return exitCode_; }

 private:
  int exitCode_ = 0;
};

// Directory of the running executable, with its trailing backslash, and the
// executable's file name; both from a 260-byte module path.
struct ModulePath {
  std::string directory;
  std::string fileName;
};
ModulePath GetModulePath();

}  // namespace kivo::toolkit
