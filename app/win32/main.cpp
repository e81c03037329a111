// Parlox's entry on Windows: the common controls, the rich-edit library, then the main dialog.
#include "app/win32/main_dialog.h"
#include "commands/room_discovery.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ::InitCommonControls();
    // Registers the "RichEdit20A" class of the log. Loaded once, never released.
    ::LoadLibraryW(L"RICHED20.DLL");
    StartRoomDiscovery();
    const int result = RunMainDialog(instance);
    StopRoomDiscovery();
    return result;
}
