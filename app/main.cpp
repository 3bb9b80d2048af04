// Process entry: Windows Sockets, the window class, the hidden main window
// and the message loop. Everything else happens inside the window's
// handlers, on this one thread.
#include "app/main.h"

#include "app/mainwindow.h"
#include "base/appstate.h"

namespace {

const WORD WINSOCK_VERSION_1_1 = 0x0101;

void cleanupWinsock(void) { WSACleanup(); }

typedef BOOL(WINAPI* DllDirectoriesSetter)(DWORD flags);

// Libraries the system loads for us by name come from its own folder,
// never from the current directory (the -W data folder) or along PATH.
// Windows without the call still searches the old way.
void restrictLibrarySearch() {
  FARPROC procedure = GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "SetDefaultDllDirectories");
  if (procedure == NULL) return;
  DllDirectoriesSetter setter =
      reinterpret_cast<DllDirectoriesSetter>(reinterpret_cast<void (*)(void)>(procedure));
  setter(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int initWinsock() {
  WSADATA data;
  int started = WSAStartup(WINSOCK_VERSION_1_1, &data);
  // The clean-up is registered even when the start failed.
  if (atexit(cleanupWinsock) != 0) {
    MessageBoxA(NULL, "atexit(WSACleanup)に失敗しました.", APP_TITLE, MB_ICONERROR);
    return 0;
  }
  if (started != 0) {
    MessageBoxA(NULL, "WinSockの初期化に失敗しました.", APP_TITLE, MB_ICONERROR);
    return 0;
  }
  return 1;
}

}  // namespace

int registerMainClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_VREDRAW | CS_HREDRAW;
  windowClass.lpfnWndProc = mainWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, "APPICON");
  windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = APP_CLASS_NAME;
  return RegisterClassA(&windowClass) != 0;
}

// A 1 x 1 tool window that is never shown: it owns the timers, receives
// the socket, lookup and tray notifications and owns the dialogs. The
// whole start-up runs inside this call, in WM_CREATE.
HWND createMainWindow(HINSTANCE instance) {
  return CreateWindowExA(WS_EX_TOOLWINDOW, APP_CLASS_NAME, APP_TITLE, WS_POPUP, CW_USEDEFAULT,
                         CW_USEDEFAULT, 1, 1, NULL, NULL, instance, NULL);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
  restrictLibrarySearch();
  if (!initWinsock()) return 0;
  app.appInstance = instance;
  // On 32-bit Windows there is never a previous instance: every copy of
  // the program registers its own class and shows its own icon.
  if (previous == NULL && !registerMainClass(instance)) return 0;
  MSG msg = {};
  // A window whose start-up failed has ended already.
  if (createMainWindow(instance) != NULL) {
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  endProgram();
  return (int)msg.wParam;
}
