// Shell shortcuts (.LNK files) through the shell's COM link object.
#include <shlobj.h>

#include "platform/bounded_text.h"
#include "platform/platform_ops.h"

namespace {

const int SHORTCUT_PATH_SIZE = 2048;

// name and ".LNK" in fileName. 0 when that does not fit.
int shortcutFileName(char* fileName, int fileNameSize, const char* name) {
    return name != 0 && textCopy(fileName, fileNameSize, name) && textAppend(fileName, fileNameSize, ".LNK");
}

// The link's bytes, saved to memory, written as fileName in folder.
HRESULT saveLink(IShellLinkA* link, HANDLE folder, const char* fileName) {
    IPersistStream* persist = 0;
    HRESULT status = link->QueryInterface(IID_IPersistStream, (void**)&persist);
    if (FAILED(status)) return status;
    IStream* stream = 0;
    status = createMemoryStream(&stream);
    if (SUCCEEDED(status)) {
        status = persist->Save(stream, TRUE);
        ULARGE_INTEGER end;
        LARGE_INTEGER here;
        here.QuadPart = 0;
        HGLOBAL memory = 0;
        if (SUCCEEDED(status) && SUCCEEDED(stream->Seek(here, STREAM_SEEK_CUR, &end)) &&
            SUCCEEDED(memoryOfStream(stream, &memory))) {
            const void* bytes = GlobalLock(memory);
            if (bytes == 0 || !writeFileInFolder(folder, fileName, bytes, end.LowPart))
                status = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
            if (bytes != 0) GlobalUnlock(memory);
        } else if (SUCCEEDED(status)) {
            status = E_FAIL;
        }
        stream->Release();  // frees the memory
    }
    persist->Release();
    return status;
}

}  // namespace

HRESULT createShortcut(const char* target, HANDLE folder, const char* name, const char* arguments) {
    char fileName[SHORTCUT_PATH_SIZE];
    // A shortcut name that does not fit is refused before anything is made.
    if (!target || folder == 0 || !shortcutFileName(fileName, sizeof fileName, name))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

    IShellLinkA* link = 0;
    HRESULT status = createComObject(CLSID_ShellLink, IID_IShellLinkA, (void**)&link);
    if (FAILED(status)) return status;

    // The folder that holds the target: cut at its last backslash (a target
    // too long for the buffer leaves the working folder empty).
    char workingFolder[SHORTCUT_PATH_SIZE];
    textCopy(workingFolder, sizeof workingFolder, target);
    const int last = textFindLastChar(workingFolder, '\\');
    if (last >= 0) workingFolder[last] = 0;

    // The setters' statuses are not looked at: a failure shows only in the saved file.
    link->SetPath(target);
    link->SetDescription(name);  // the shortcut's comment is its own name
    link->SetArguments(arguments);
    link->SetWorkingDirectory(workingFolder);

    status = saveLink(link, folder, fileName);
    link->Release();
    return status;
}

int deleteShortcut(const char* folder, int owner, const char* name) {
    char fileName[SHORTCUT_PATH_SIZE];
    return shortcutFileName(fileName, sizeof fileName, name) && deleteFileInFolder(folder, owner, fileName);
}
