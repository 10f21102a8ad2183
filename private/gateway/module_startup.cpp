// Module start-up on Windows. The module keeps no per-thread state, so it
// asks not to be woken for every thread the host starts or ends.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
