// Shell shortcuts (.LNK files) through the shell's COM link object.
#include <shlobj.h>

#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"

namespace {

const int SHORTCUT_PATH_SIZE = 2048;

// path = folder, one backslash unless folder ends in one, name, ".LNK".
// 0 when that does not fit SHORTCUT_PATH_SIZE bytes.
int buildShortcutPath(char* path, const char* folder, const char* name) {
    if (!folder || !name || !textCopy(path, SHORTCUT_PATH_SIZE, folder)) return 0;
    const int length = textLength(path, SHORTCUT_PATH_SIZE);
    if ((length == 0 || textFindLastChar(path, '\\') != length - 1) && !textAppend(path, SHORTCUT_PATH_SIZE, "\\"))
        return 0;
    return textAppend(path, SHORTCUT_PATH_SIZE, name) && textAppend(path, SHORTCUT_PATH_SIZE, ".LNK");
}

// The folder that holds path: cut at its last backslash (D:\dir\f.txt ->
// D:\dir); a text without one stays as it is. Kept here so that the
// platform layer needs nothing of the setup code.
void cutAtLastBackslash(char* path) {
    const int last = textFindLastChar(path, '\\');
    if (last >= 0) path[last] = 0;
}

}  // namespace

HRESULT createShortcut(const char* target, const char* folder, const char* name, const char* arguments) {
    char shortcutPath[SHORTCUT_PATH_SIZE];
    // A shortcut path that does not fit is refused before anything is made.
    if (!target || !buildShortcutPath(shortcutPath, folder, name))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

    IShellLinkA* link = 0;
    HRESULT status = CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link);
    if (FAILED(status)) return status;

    char workingFolder[SHORTCUT_PATH_SIZE];
    // A target too long for the buffer leaves the working folder empty.
    textCopy(workingFolder, sizeof workingFolder, target);
    cutAtLastBackslash(workingFolder);

    // The setters' statuses are not looked at: a failure shows only in the saved file.
    link->SetPath(target);
    link->SetDescription(name);  // the shortcut's comment is its own name
    link->SetArguments(arguments);
    link->SetWorkingDirectory(workingFolder);

    IPersistFile* file = 0;
    status = link->QueryInterface(IID_IPersistFile, (void**)&file);
    if (FAILED(status)) {
        link->Release();
        return status;
    }
    // The save operation takes only a UTF-16 file name.
    WCHAR widePath[SHORTCUT_PATH_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, shortcutPath, -1, widePath, SHORTCUT_PATH_SIZE) == 0) {
        const DWORD error = GetLastError();
        status = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    } else {
        status = file->Save(widePath, TRUE);  // replaces an existing file
    }
    file->Release();
    link->Release();
    return status;
}

// The folder is held while the file is deleted (deleteFileInFolder): the
// Start-menu folders belong to the user, who could otherwise swap one for a
// link between a check and the deletion. Only a rooted folder is used, so an
// empty or relative folder text deletes nothing.
int deleteShortcut(const char* folder, const char* name) {
    char fileName[SHORTCUT_PATH_SIZE];
    if (!name || !textCopy(fileName, sizeof fileName, name) || !textAppend(fileName, sizeof fileName, ".LNK")) return 0;
    return deleteFileInFolder(folder, fileName);
}
