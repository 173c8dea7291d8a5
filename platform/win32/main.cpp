// Entry of Login.exe on Windows: the services, the windows and the
// application object. The web browser control needs single-threaded OLE.
#include <windows.h>
#include <ole2.h>

#include "app/launcher_app.h"
#include "platform/win32/services.h"
#include "platform/win32/ui_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    OleInitialize(nullptr);
    kvn::win32::Win32Services services;
    kvn::win32::Win32Ui ui;
    kvn::Platform platform = services.platform(ui);
    kvn::CLauncherApp(platform).InitInstance();
    return 0;
}
