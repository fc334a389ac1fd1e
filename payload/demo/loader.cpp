// Stand-in for the WebView2 loader library, so that a fresh checkout builds a setup that installs and starts a real
// application. It exports (loader.def) the one function the demo application imports and implements none of it.

#include <windows.h>

extern "C" HRESULT WINAPI CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR /*browserExecutableFolder*/, PCWSTR /*userDataFolder*/, void* /*environmentOptions*/,
    void* /*environmentCreatedHandler*/) {
  return E_NOTIMPL;
}
