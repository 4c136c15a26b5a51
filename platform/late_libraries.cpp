// COM (OLE32.DLL) and the shell's ShellExecuteA (SHELL32.DLL), which the
// installer does not import: each library is loaded from the system folder
// the first time one of its functions is called, so that neither is loaded
// before the window is painted.
#include <objbase.h>

#include "platform/platform_ops.h"
#include "platform/system_calls.h"

namespace {

const char OLE_LIBRARY[] = "OLE32.DLL";
const char SHELL_LIBRARY[] = "SHELL32.DLL";

// Each library once loaded; 0 until then, and after a failed load, so that
// the next call tries again. Never freed.
HMODULE oleLibrary;
HMODULE shellLibrary;

typedef HRESULT(WINAPI* InitializeFunction)(LPVOID reserved);
typedef void(WINAPI* UninitializeFunction)();
typedef HRESULT(WINAPI* CreateInstanceFunction)(REFCLSID type, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                                                LPVOID* object);
typedef HRESULT(WINAPI* CreateStreamFunction)(HGLOBAL memory, BOOL freeOnRelease, LPSTREAM* stream);
typedef HRESULT(WINAPI* StreamMemoryFunction)(LPSTREAM stream, HGLOBAL* memory);
typedef HINSTANCE(WINAPI* ExecuteFunction)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR folder,
                                           INT show);

// The function's address, its library loaded first where it is not yet; 0
// when either cannot be found. GetProcAddress hands back a generic function
// pointer; void (*)(void) is the one type the compiler accepts as a go-between.
void (*lateFunction(HMODULE* library, const char* libraryName, const char* name))(void) {
    if (*library == 0) *library = systemCalls.loadSystemLibrary(libraryName);
    if (*library == 0) return 0;
    return reinterpret_cast<void (*)(void)>(systemCalls.getProcAddress(*library, name));
}

}  // namespace

HRESULT initializeCom() {
    const InitializeFunction function =
        reinterpret_cast<InitializeFunction>(lateFunction(&oleLibrary, OLE_LIBRARY, "CoInitialize"));
    return function != 0 ? function(0) : E_FAIL;
}

void uninitializeCom() {
    const UninitializeFunction function =
        reinterpret_cast<UninitializeFunction>(lateFunction(&oleLibrary, OLE_LIBRARY, "CoUninitialize"));
    if (function != 0) function();
}

HRESULT createComObject(REFCLSID type, REFIID interfaceId, void** object) {
    *object = 0;
    const CreateInstanceFunction function =
        reinterpret_cast<CreateInstanceFunction>(lateFunction(&oleLibrary, OLE_LIBRARY, "CoCreateInstance"));
    return function != 0 ? function(type, 0, CLSCTX_INPROC_SERVER, interfaceId, object) : E_FAIL;
}

HRESULT createMemoryStream(IStream** stream) {
    *stream = 0;
    const CreateStreamFunction function =
        reinterpret_cast<CreateStreamFunction>(lateFunction(&oleLibrary, OLE_LIBRARY, "CreateStreamOnHGlobal"));
    return function != 0 ? function(0, TRUE, stream) : E_FAIL;
}

HRESULT memoryOfStream(IStream* stream, HGLOBAL* memory) {
    const StreamMemoryFunction function =
        reinterpret_cast<StreamMemoryFunction>(lateFunction(&oleLibrary, OLE_LIBRARY, "GetHGlobalFromStream"));
    return function != 0 ? function(stream, memory) : E_FAIL;
}

void openWithShell(HWND owner, const char* file) {
    const ExecuteFunction function =
        reinterpret_cast<ExecuteFunction>(lateFunction(&shellLibrary, SHELL_LIBRARY, "ShellExecuteA"));
    if (function != 0) function(owner, "open", file, 0, 0, SW_SHOW);
}
