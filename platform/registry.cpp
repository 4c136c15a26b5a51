// Registry helpers: string and DWORD values, key trees.
#include "platform/bounded_text.h"
#include "platform/platform_ops.h"
#include "platform/system_calls.h"

namespace {

const int VALUE_BUFFER_SIZE = 4096;
// At most this many bytes of a value reach the caller, terminator included.
const int VALUE_COPY_LIMIT = 4050;
const int KEY_NAME_SIZE = 1024;
// Bound for measuring a caller's terminated text.
const int TEXT_LENGTH_BOUND = 0x7FFFFFFE;

// Opens root\keyPath, creating it when it cannot be opened.
int openOrCreateKey(HKEY root, const char* keyPath, HKEY* key) {
    if (RegOpenKeyA(root, keyPath, key) == ERROR_SUCCESS) return 1;
    return RegCreateKeyA(root, keyPath, key) == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

int writeMachineString(const char* keyPath, const char* valueName, const char* text) {
    if (!text) return 0;
    const int length = textLength(text, TEXT_LENGTH_BOUND);
    HKEY key;
    if (!openOrCreateKey(HKEY_LOCAL_MACHINE, keyPath, &key)) return 0;
    // The stored data is the text with its terminator: an empty text is one NUL.
    const LONG status = RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE*)text, (DWORD)length + 1);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 1 : 0;
}

int writeUserDword(const char* keyPath, const char* valueName, DWORD value) {
    HKEY key;
    if (!openOrCreateKey(HKEY_CURRENT_USER, keyPath, &key)) return 0;
    const LONG status = RegSetValueExA(key, valueName, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 1 : 0;
}

// A text that does not fit destinationSize is refused rather than cut, since
// the callers read paths and a cut path names another folder. Only the
// 4050-byte limit itself cuts a text.
int readUserString(const char* keyPath, const char* valueName, char* destination, int destinationSize) {
    if (!destination || destinationSize <= 0) return 0;
    // One byte more than the platform may fill, so that a terminator always fits.
    char value[VALUE_BUFFER_SIZE + 1];
    DWORD size = VALUE_BUFFER_SIZE;
    DWORD type = REG_SZ;
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, keyPath, &key) != ERROR_SUCCESS) return 0;
    // ERROR_MORE_DATA: the value is larger than 4096 bytes.
    const LONG status = RegQueryValueExA(key, valueName, 0, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return 0;  // REG_EXPAND_SZ included
    if (size > VALUE_BUFFER_SIZE) return 0;

    // The text is what precedes the first NUL in the reported size, and at
    // most VALUE_COPY_LIMIT - 1 characters, so that with its terminator it
    // stays within VALUE_COPY_LIMIT bytes. A value stored without a
    // terminator is complete all the same.
    int copySize = (int)size;
    if (copySize > VALUE_COPY_LIMIT) copySize = VALUE_COPY_LIMIT;
    int length = textLength(value, copySize);
    if (length > VALUE_COPY_LIMIT - 1) length = VALUE_COPY_LIMIT - 1;
    value[length] = 0;
    if (length >= destinationSize) return 0;

    textCopy(destination, destinationSize, value);
    // The rest of the value's size, as far as the destination goes, becomes zero bytes.
    for (int i = length + 1; i < copySize && i < destinationSize; i++) destination[i] = 0;
    return 1;
}

// Recursion depth is bounded by the registry's own limit on key nesting.
int deleteKeyTree(HKEY root, const char* keyPath) {
    HKEY key;
    if (RegOpenKeyExA(root, keyPath, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) return 0;
    int result = 1;
    char name[KEY_NAME_SIZE];
    for (;;) {
        DWORD nameLength = KEY_NAME_SIZE - 1;
        // Always index 0: each subkey found is gone before the next question.
        const LONG status = RegEnumKeyExA(key, 0, name, &nameLength, 0, 0, 0, 0);
        if (status == ERROR_SUCCESS) {
            // A subkey that survives would come back at index 0 without
            // end: its survival ends the work on this key.
            if (!deleteKeyTree(key, name)) {
                result = 0;
                break;
            }
            continue;
        }
        if (status == ERROR_NO_MORE_ITEMS) {
            if (systemCalls.regDeleteKey(root, keyPath) != ERROR_SUCCESS) result = 0;
        } else {
            // The subkeys cannot be listed: the key stays, and its parent must
            // see it as a survivor.
            result = 0;
        }
        break;
    }
    RegCloseKey(key);
    return result;
}
