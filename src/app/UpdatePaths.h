// The self-update's names: where the update host serves the version page
// and the updater, and the updater's file beside the running executable.
#pragma once

#include <string>

#include "toolkit/Application.h"

namespace kivo::app {

// The updater's file name, on the update host and beside the executable.
inline constexpr const char kLocalUpdaterName[] = "KivoUpdate.exe";
inline constexpr const wchar_t kLocalUpdaterFile[] = L"KivoUpdate.exe";
// Where the update host keeps the version page and the updater.
inline constexpr const char kUpdateFolder[] = "/Velmar/";
inline constexpr const char kVersionPageName[] = "lastver.html";
// How the setup program, which is also the updater, names itself in its
// version resource (installer/Kivoline.nsi); the client names itself
// otherwise.
inline constexpr const wchar_t kSetupOriginalFilename[] = L"KivoSetup.exe";
inline constexpr const wchar_t kSetupInternalName[] = L"KivoSetup";

// The module path rules are the toolkit's: one reading for the whole program.
using toolkit::GetRunningModulePath;
using toolkit::ModulePathParts;
using toolkit::SplitModulePath;

// The path of the local updater file beside the running executable, and the
// executable's own file name. False when the executable's path is unknown.
bool GetLocalUpdaterPath(std::wstring& updaterPath, std::wstring& exeName);

}  // namespace kivo::app
