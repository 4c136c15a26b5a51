// The install procedure.
#include <windows.h>

#include "package/package.h"
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "setup/installer_state.h"
#include "setup/procedures.h"

namespace {

const int TEXT_SIZE = 1024;

const char* const MESSAGE_CORRUPTED =
    "Installation package might be corrupted\nthanks to download official package at\n%s.";
const char* const MESSAGE_TARGET_FOLDER =
    "Failed to create target folder on system disk\nthanks to download official package at\n%s.";
const char* const MESSAGE_COPY_FAILED =
    "Failed to copy file(s) to destination folder...\nInstallation package might be corrupted\n"
    "thanks to download official package at\n%s.";

int failInstall(InstallerState* state, int result, const char* message) {
    textFormat(state->errorText, sizeof state->errorText, message, MAKER_WEB_HOST);
    PostMessageA(state->window, WM_COMMAND, CMD_PROCEDURE_DONE, DONE_FAILED);
    return result;
}

// "Readme" and "OrloCast" in the Start-menu folder programs\Fen March\Orlo-Cast,
// made and held as its owner allows. Skipped when the folder text is empty,
// does not fit, or can't be held.
void createStartMenuShortcuts(InstallerState* state, const char* programsFolder, int owner) {
    char menu[TEXT_SIZE];
    if (!productMenuFolder(programsFolder, menu, TEXT_SIZE)) return;
    const HANDLE folder = holdFolder(menu, owner, HOLD_CREATE);
    if (folder == 0) return;

    char target[TEXT_SIZE];
    if (textCopy(target, TEXT_SIZE, state->targetFolder) && joinPath(target, TEXT_SIZE, "readme.txt"))
        createShortcut(target, folder, "Readme", 0);
    if (textCopy(target, TEXT_SIZE, state->targetFolder) && joinPath(target, TEXT_SIZE, PRODUCT_PROGRAM_NAME))
        createShortcut(target, folder, "OrloCast", 0);
    CloseHandle(folder);
}

// The installer's copy beside the product, to serve as its uninstaller: the
// program's own bytes, read through the handle held since start-up into a
// new file of the installation folder and checked against the running image
// there, before extraction changes the resources in memory; renamed into
// place at the end.
struct SelfCopy {
    HANDLE folder;
    HANDLE file;  // 0 when no sound copy could be made
};

void beginSelfCopy(InstallerState* state, SelfCopy* copy) {
    copy->folder = holdFolder(state->targetFolder, MACHINE_FOLDER, 0);
    copy->file = copy->folder != 0 ? createNewFileIn(copy->folder) : 0;
    if (copy->file != 0 && !(copyFileContents(state->programFile, copy->file) && fileHoldsRunningImage(copy->file))) {
        placeNewFile(copy->file, copy->folder, 0);
        copy->file = 0;
    }
}

// Places the copy (keep) or deletes it. 1 when copyPath names the copy, or
// the program itself started from there under its own name (it cannot
// replace itself).
int endSelfCopy(InstallerState* state, SelfCopy* copy, int keep, char* copyPath, int copyPathSize) {
    char name[TEXT_SIZE];
    runningProgramName(name, TEXT_SIZE);
    const int formed =
        keep && textCopy(copyPath, copyPathSize, state->targetFolder) && joinPath(copyPath, copyPathSize, name);
    int placed = 0;
    if (copy->file != 0) {
        // A read-only copy of an earlier install would refuse its replacement.
        if (formed) SetFileAttributesA(copyPath, FILE_ATTRIBUTE_NORMAL);
        placed = placeNewFile(copy->file, copy->folder, formed ? name : 0);
    }
    if (copy->folder != 0) CloseHandle(copy->folder);
    return formed && (placed || pathNamesFile(copyPath, state->programFile));
}

}  // namespace

int runInstall(InstallerState* state) {
    textFormat(state->errorCaption, sizeof state->errorCaption, "%s Installation Error", PRODUCT_DISPLAY_NAME);
    setStatusText(state, STAGE_EXTRACT);
    // The program's own file, held since start-up, must be the image that
    // runs: a file put at its path since is never copied as the uninstaller,
    // and nothing is written.
    if (readPackageHeader(state->instance, &state->packageEntries) != 0 || !fileHoldsRunningImage(state->programFile))
        return failInstall(state, -1, MESSAGE_CORRUPTED);

    setStatusText(state, STAGE_COPY);
    if (resolveTargetFolder(state, PRODUCT_FOLDER) != 0) return failInstall(state, -2, MESSAGE_TARGET_FOLDER);
    if (createFolderChain(state->targetFolder) != 1) return failInstall(state, -3, MESSAGE_TARGET_FOLDER);
    SelfCopy copy;
    beginSelfCopy(state, &copy);
    char copyPath[TEXT_SIZE];
    if (extractPackage(state, 0) != 0) {
        endSelfCopy(state, &copy, 0, copyPath, TEXT_SIZE);
        return failInstall(state, -10, MESSAGE_COPY_FAILED);
    }

    setStatusText(state, STAGE_FINALIZE);
    // COM for the shortcuts, started here rather than with the thread: its
    // libraries are loaded only after extraction has handed the package's
    // memory back. Ended for S_FALSE too (a thread that had COM already
    // counts one start more).
    const HRESULT com = initializeCom();
    char programs[TEXT_SIZE];
    if (readUserString(SHELL_FOLDERS_KEY, "Programs", programs, TEXT_SIZE) == 1)
        createStartMenuShortcuts(state, programs, USER_FOLDER);
    createStartMenuShortcuts(state, getCommonProgramsFolder(), MACHINE_FOLDER);
    if (SUCCEEDED(com)) uninitializeCom();

    // The uninstall entry is written only for a copy that is the running
    // installer, so the programs list never runs anything else.
    if (endSelfCopy(state, &copy, 1, copyPath, TEXT_SIZE)) {
        char key[TEXT_SIZE];
        // The uninstall command is the copy's path in double quotes: unquoted,
        // a path with blanks ("C:\Program Files\...") could start C:\Program.exe.
        char command[TEXT_SIZE + 2];
        if (textCopy(key, TEXT_SIZE, UNINSTALL_PARENT_KEY) && joinPath(key, TEXT_SIZE, UNINSTALL_KEY_NAME) &&
            textFormat(command, sizeof command, "\"%s\"", copyPath)) {
            writeMachineString(key, "DisplayName", "Orlo-Cast, Broadcast Stream Server");
            writeMachineString(key, "Publisher", "Fenmarch Software");
            writeMachineString(key, "UninstallString", command);
        }
    }

    setStatusText(state, STAGE_COMPLETED);
    PostMessageA(state->window, WM_COMMAND, CMD_PROCEDURE_DONE, DONE_OK);
    return 0;
}
