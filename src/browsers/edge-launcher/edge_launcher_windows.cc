// EDGELAUNCHER.exe: starts Microsoft Edge with one address through the
// application activation manager. Browser removal writes this program to
// the temporary folder and starts it, without waiting for it or reading
// its exit code.
//
//   EdgeLauncher.exe [url]
//
// Exit codes: 0 Edge was activated; the failing HRESULT otherwise (of
// CoInitialize, of creating the activation manager, after "Failed to
// launch Microsoft Edge" on standard output, or of the activation);
// E_INVALIDARG with the usage text for no argument or more than one.
#include <initguid.h>
#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

#include <cstdio>

namespace {

constexpr wchar_t kEdgeApp[] = L"Microsoft.MicrosoftEdge_8wekyb3d8bbwe!MicrosoftEdge";

HRESULT Launch(const wchar_t* url) {
  IApplicationActivationManager* manager = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_ApplicationActivationManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IApplicationActivationManager, reinterpret_cast<void**>(&manager));
  if (FAILED(hr)) {
    std::printf("Failed to launch Microsoft Edge\n");
    return hr;
  }
  DWORD pid = 0;
  hr = manager->ActivateApplication(kEdgeApp, url, AO_NONE, &pid);
  manager->Release();
  return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) return hr;
  if (argc == 2) {
    hr = Launch(argv[1]);
  } else {
    std::printf("Launches Edge browser.\n\nUsage:\n\tEdgeLauncher.exe [url]\n\n"
                "\turl - The URL to open in Microsoft Edge.\n\n");
    hr = E_INVALIDARG;
  }
  CoUninitialize();
  return hr;
}
