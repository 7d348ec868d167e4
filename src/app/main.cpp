// The program's entry point and its one application object.
#include <windows.h>

#include "app/VpnApp.h"

namespace {
kivo::app::CVpnApp theApp;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return theApp.Run(instance); }
