#include "platform/security_component.h"

#include <windows.h>
#include <oleauto.h>

#include "platform/windows/wide_text.h"

namespace quil::platform {

// The COM class itself: created in any context, asked for IDispatch and
// its method GetVersion. An in-process server cannot be given a time
// limit; `limit` is not used here.
std::optional<std::string> QueryComponentVersion(const std::string& class_id, std::chrono::milliseconds) {
  HRESULT init = CoInitialize(nullptr);
  std::optional<std::string> version;
  CLSID clsid;
  std::wstring text = win::Utf16(class_id);
  IUnknown* object = nullptr;
  if (SUCCEEDED(CLSIDFromString(text.c_str(), &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr,
                                 CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                     CLSCTX_REMOTE_SERVER,
                                 IID_IUnknown, reinterpret_cast<void**>(&object)))) {
    IDispatch* dispatch = nullptr;
    if (SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
      wchar_t method[] = L"GetVersion";
      LPOLESTR names[] = {method};
      DISPID id = 0;
      if (SUCCEEDED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
        DISPPARAMS none{};
        VARIANT result;
        VariantInit(&result);
        if (SUCCEEDED(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr,
                                       nullptr)) &&
            SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)) && result.bstrVal &&
            SysStringLen(result.bstrVal) > 0)
          version = win::Utf8(result.bstrVal, SysStringLen(result.bstrVal));
        VariantClear(&result);
      }
      dispatch->Release();
    }
    object->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return version;
}

}  // namespace quil::platform
