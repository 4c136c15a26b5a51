// The uninstall procedure.
#include <windows.h>

#include "package/package.h"
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "setup/installer_state.h"
#include "setup/procedures.h"

namespace {

const int TEXT_SIZE = 1024;

int failUninstall(InstallerState* state, int result, const char* message, const char* argument) {
    textFormat(state->errorText, sizeof state->errorText, message, argument);
    PostMessageA(state->window, WM_COMMAND, CMD_PROCEDURE_DONE, DONE_FAILED);
    return result;
}

// Deletes the two shortcuts and the folder programs\Fen March\Orlo-Cast.
void removeStartMenuFolder(const char* programsFolder, int owner) {
    char menu[TEXT_SIZE];
    if (!productMenuFolder(programsFolder, menu, TEXT_SIZE)) return;
    deleteShortcut(menu, owner, "OrloCast");
    deleteShortcut(menu, owner, "Readme");
    deleteFolderTree(menu, owner);
}

}  // namespace

// Each file is deleted through the installation folder held as itself (and
// any subfolder of its name): an installation folder that is a link is not
// deleted from, just as the folder walk never enters a link.
int deletePackageFiles(InstallerState* state) {
    for (uint32_t i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        const PackageEntry* entry = &state->packageEntries.entries[i];
        // A name that could point outside the installation folder is never
        // used to delete anything.
        if (!entryNameIsSafe(entry)) continue;
        // Only a name whose whole path fits, as it did when it was written.
        char path[TEXT_SIZE];
        if (textCopy(path, TEXT_SIZE, state->targetFolder) && path[0] != 0 && joinPath(path, TEXT_SIZE, entry->name))
            deleteFileInFolder(state->targetFolder, MACHINE_FOLDER, entry->name);
    }
    return 0;
}

// deleteShortcut uses only a rooted folder: an empty Startup folder, or the
// text "Startup" left when no folder was found, deletes nothing (it would
// name the current drive's root or the current folder). The Startup folder
// is the user's own: no link anywhere on its way is followed.
int removeAutostart() {
    deleteShortcut(getStartupFolder(), USER_FOLDER, AUTOSTART_LINK_NAME);
    writeUserDword(PRODUCT_SETTINGS_KEY, "SysTray", 0);
    return writeUserDword(PRODUCT_SETTINGS_KEY, "SysTrayShowOnRun", 0);
}

int runUninstall(InstallerState* state) {
    textFormat(state->errorCaption, sizeof state->errorCaption, "%s Uninstallation Error", PRODUCT_DISPLAY_NAME);
    if (readPackageHeader(state->instance, &state->packageEntries) != 0)
        return failUninstall(state, -1,
                             "De-Installation package might be corrupted\nthanks to download official package "
                             "at\n%s.",
                             MAKER_WEB_HOST);
    if (resolveTargetFolder(state, PRODUCT_FOLDER) != 0)
        return failUninstall(state, -2, "Failed to get target folder on system disk\nthanks to remove %s manually...",
                             PRODUCT_DISPLAY_NAME);

    deletePackageFiles(state);

    char programs[TEXT_SIZE];
    if (readUserString(SHELL_FOLDERS_KEY, "Programs", programs, TEXT_SIZE) == 1)
        removeStartMenuFolder(programs, USER_FOLDER);
    removeStartMenuFolder(getCommonProgramsFolder(), MACHINE_FOLDER);

    removeAutostart();

    char key[TEXT_SIZE];
    if (textCopy(key, TEXT_SIZE, UNINSTALL_PARENT_KEY) && joinPath(key, TEXT_SIZE, UNINSTALL_KEY_NAME))
        deleteKeyTree(HKEY_LOCAL_MACHINE, key);

    if (resolveTargetFolder(state, PRODUCT_FOLDER) == 0) {
        deleteFolderTree(state->targetFolder, MACHINE_FOLDER);
        state->targetFolder[0] = 0;
    }
    return 0;
}
