// velmora.exe: the Velmora window on Windows. One window, and the program
// ends with it.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "win32/main_window.h"

namespace {

velmora::win32::MainWindow* g_window = nullptr;

// A console the program was started from is closed, or the user logs off:
// the settings are kept as on a close, on the window's thread.
BOOL WINAPI ConsoleEnds(DWORD event) {
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    if (g_window && g_window->hwnd()) {
      DWORD_PTR answer = 0;
      SendMessageTimeoutW(g_window->hwnd(), WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, 4000, &answer);
    }
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // File dialogs want a single-threaded apartment on the window's thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  {
    velmora::win32::MainWindow window(instance);
    if (!window.create(show)) return 1;
    g_window = &window;
    SetConsoleCtrlHandler(&ConsoleEnds, TRUE);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (window.preTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    status = static_cast<int>(msg.wParam);
    g_window = nullptr;
  }
  CoUninitialize();
  return status;
}
