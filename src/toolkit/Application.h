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

  // Runs InitInstance, whose modal windows run their own message loops,
  // then ExitInstance, and returns its exit code. There is no loop of the
  // application's own.
  int Run(HINSTANCE instance);

  // The executable's file name without directory and extension.
  static std::wstring Title();
  // A message box captioned with the title, without an owner (start-up
  // messages come before any window).
  int ShowMessage(const std::wstring& text, UINT type = MB_OK) const;

 protected:
  // The program's work; its result is of no further use (the program ends
  // once it returns).
  virtual bool InitInstance() = 0;
  virtual int ExitInstance() { return 0; }
};

// A path cut at its last backslash. The directory keeps the backslash;
// without one the directory is empty and the whole text is the file name.
struct ModulePathParts {
  std::wstring directory;
  std::wstring fileName;
};
ModulePathParts SplitModulePath(const std::wstring& path);

// The full path of the running executable, of any length the system allows
// (a long-path folder included). False when it cannot be read.
bool GetRunningModulePath(std::wstring& path);

}  // namespace kivo::toolkit
