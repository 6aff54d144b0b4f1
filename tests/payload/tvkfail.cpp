// A component library whose registration fails: DllRegisterServer returns
// E_FAIL and records nothing.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return E_FAIL; }

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() { return S_OK; }
