// The two files of the generated large payload start as these stand-ins, which make-large-payload.sh then pads
// with real machine code: an application that loads the library (as the real one does) and exits at once, and a
// library with the real one's export. Neither uses a C runtime, so they start as fast as a program can.
#include <windows.h>

#ifdef QMT_QUICK_LIBRARY
__declspec(dllexport) HRESULT WINAPI CreateCoreWebView2EnvironmentWithOptions(PCWSTR folder, PCWSTR dataFolder,
                                                                             void* options, void* handler) {
  (void)folder, (void)dataFolder, (void)options, (void)handler;
  return E_NOTIMPL;
}

BOOL WINAPI quickLibraryEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance, (void)reason, (void)reserved;
  return TRUE;
}
#else
__declspec(dllimport) HRESULT WINAPI CreateCoreWebView2EnvironmentWithOptions(PCWSTR folder, PCWSTR dataFolder,
                                                                             void* options, void* handler);

void WINAPI quickAppEntry(void) {
  ExitProcess(CreateCoreWebView2EnvironmentWithOptions(NULL, NULL, NULL, NULL) == E_NOTIMPL ? 0 : 1);
}
#endif
