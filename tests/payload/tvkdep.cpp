// A library that TVKNEED.DLL imports. It has no DllRegisterServer, so it
// also stands for a library that cannot be registered.
extern "C" __declspec(dllexport) int TvkDepAnswer() { return 42; }
