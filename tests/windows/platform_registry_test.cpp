// Registry helpers against the real registry, in keys of this process
// alone (Software\OrloTest-<pid>-...), checked with the raw registry calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "platform/system_calls.h"
#include "tests/support/win32_check.h"

namespace {

// Deletes root\path with all its subkeys through the raw calls.
void removeKeyTree(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[256];
        std::vector<std::string> children;
        for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; i++) children.push_back(name);
        RegCloseKey(key);
        for (const std::string& child : children) removeKeyTree(root, path + "\\" + child);
    }
    RegDeleteKeyA(root, path.c_str());
}

bool keyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Stores raw bytes of a type through the raw call.
void setRaw(HKEY root, const std::string& keyPath, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(root, keyPath.c_str(), &key));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE*)data, size));
    RegCloseKey(key);
}

struct RawValue {
    LONG status;
    DWORD type;
    std::string data;
};

RawValue getRaw(HKEY root, const std::string& keyPath, const char* name) {
    RawValue value = {ERROR_FILE_NOT_FOUND, 0, ""};
    HKEY key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    char data[8192];
    DWORD size = sizeof data;
    value.status = RegQueryValueExA(key, name, 0, &value.type, (BYTE*)data, &size);
    if (value.status == ERROR_SUCCESS) value.data.assign(data, size);
    RegCloseKey(key);
    return value;
}

std::vector<std::string> deletedKeys;
std::string failDeleteOn;

LONG WINAPI loggedRegDeleteKey(HKEY root, LPCSTR path) {
    deletedKeys.push_back(path);
    if (path == failDeleteOn) return ERROR_ACCESS_DENIED;
    return RegDeleteKeyA(root, path);
}

class RegistryTest : public ::testing::Test {
protected:
    // Keys of this process alone under both roots.
    const std::string userKey = "Software\\OrloTest-" + std::to_string(GetCurrentProcessId()) + "-user";
    const std::string machineKey = "Software\\OrloTest-" + std::to_string(GetCurrentProcessId()) + "-machine";

    void SetUp() override {
        deletedKeys.clear();
        failDeleteOn.clear();
        systemCalls.regDeleteKey = loggedRegDeleteKey;
    }

    void TearDown() override {
        resetSystemCalls();
        removeKeyTree(HKEY_CURRENT_USER, userKey);
        removeKeyTree(HKEY_LOCAL_MACHINE, machineKey);
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, userKey));
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, machineKey));
    }
};

// ---- Writing ------------------------------------------------------------------

using WriteValues = RegistryTest;

TEST_F(WriteValues, MachineStringCreatesItsKeyThenOverwrites) {
    const std::string key = machineKey + "\\Uninstall\\Entry";
    ASSERT_FALSE(keyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_EQ(1, writeMachineString(key.c_str(), "DisplayName", "Orlo-Cast"));
    RawValue value = getRaw(HKEY_LOCAL_MACHINE, key, "DisplayName");
    EXPECT_EQ(ERROR_SUCCESS, value.status);
    EXPECT_EQ((DWORD)REG_SZ, value.type);
    EXPECT_EQ(std::string("Orlo-Cast\0", 10), value.data);

    EXPECT_EQ(1, writeMachineString(key.c_str(), "DisplayName", "Other"));
    EXPECT_EQ(std::string("Other\0", 6), getRaw(HKEY_LOCAL_MACHINE, key, "DisplayName").data);

    // An empty text is the NUL alone.
    EXPECT_EQ(1, writeMachineString(key.c_str(), "Empty", ""));
    value = getRaw(HKEY_LOCAL_MACHINE, key, "Empty");
    EXPECT_EQ((DWORD)REG_SZ, value.type);
    EXPECT_EQ(std::string("\0", 1), value.data);
}

TEST_F(WriteValues, UserDwordCreatesItsKeyThenOverwrites) {
    const std::string key = userKey + "\\Fen March\\Orlo-Cast";
    EXPECT_EQ(1, writeUserDword(key.c_str(), "SysTray", 0x12345678));
    RawValue value = getRaw(HKEY_CURRENT_USER, key, "SysTray");
    EXPECT_EQ((DWORD)REG_DWORD, value.type);
    EXPECT_EQ(std::string("\x78\x56\x34\x12", 4), value.data);
    EXPECT_EQ(1, writeUserDword(key.c_str(), "SysTray", 0));
    EXPECT_EQ(std::string(4, '\0'), getRaw(HKEY_CURRENT_USER, key, "SysTray").data);
}

// ---- readUserString -------------------------------------------------------------

const int CANARY = 64;

// A destination of `size` bytes filled with 'X', then CANARY bytes of 0xA5
// that nothing may touch.
struct Destination {
    std::vector<char> bytes;
    int size;
    explicit Destination(int destinationSize) : bytes(destinationSize + CANARY, 'X'), size(destinationSize) {
        std::fill(bytes.begin() + size, bytes.end(), (char)0xA5);
    }
    char* data() { return bytes.data(); }
    bool canaryIntact() const {
        return std::all_of(bytes.begin() + size, bytes.end(), [](char c) { return c == (char)0xA5; });
    }
    bool untouched() const { return canaryIntact() && std::all_of(bytes.begin(), bytes.begin() + size, [](char c) { return c == 'X'; }); }
};

using ReadUserString = RegistryTest;

TEST_F(ReadUserString, ReadsATextThatFitsAndRefusesOneThatDoesNot) {
    const std::string text = "C:\\Users\\x\\Programs";  // 19 characters
    setRaw(HKEY_CURRENT_USER, userKey, "Programs", REG_SZ, text.c_str(), (DWORD)text.size() + 1);

    Destination large(1024);
    EXPECT_EQ(1, readUserString(userKey.c_str(), "Programs", large.data(), large.size));
    EXPECT_STREQ(text.c_str(), large.data());
    EXPECT_TRUE(large.canaryIntact());

    Destination exact(20);
    EXPECT_EQ(1, readUserString(userKey.c_str(), "Programs", exact.data(), exact.size));
    EXPECT_STREQ(text.c_str(), exact.data());
    EXPECT_TRUE(exact.canaryIntact());

    Destination short1(19);
    EXPECT_EQ(0, readUserString(userKey.c_str(), "Programs", short1.data(), short1.size));
    EXPECT_TRUE(short1.untouched());
    Destination none(0);
    EXPECT_EQ(0, readUserString(userKey.c_str(), "Programs", none.data(), none.size));
    EXPECT_TRUE(none.untouched());
}

TEST_F(ReadUserString, RefusesMissingValuesAndOtherTypes) {
    const DWORD number = 7;
    setRaw(HKEY_CURRENT_USER, userKey, "Expand", REG_EXPAND_SZ, "%TEMP%\\x", 9);
    setRaw(HKEY_CURRENT_USER, userKey, "Number", REG_DWORD, &number, 4);
    setRaw(HKEY_CURRENT_USER, userKey, "Binary", REG_BINARY, "abc", 4);
    const struct {
        std::string key;
        const char* name;
    } cases[] = {{userKey, "Expand"}, {userKey, "Number"}, {userKey, "Binary"}, {userKey, "Missing"},
                 {userKey + "\\Missing", "Programs"}};
    for (const auto& refused : cases) {
        Destination destination(1024);
        EXPECT_EQ(0, readUserString(refused.key.c_str(), refused.name, destination.data(), destination.size))
            << refused.name;
        EXPECT_TRUE(destination.untouched()) << refused.name;
    }
}

// Stores a REG_SZ value of `characters` characters plus its terminator.
void storeText(const std::string& key, const char* name, int characters) {
    std::string text(characters, 'a');
    for (int i = 0; i < characters; i++) text[i] = (char)('a' + i % 26);
    setRaw(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(), (DWORD)characters + 1);
}

// At most 4050 bytes reach the destination, terminator included; a value of
// more than 4096 bytes is refused.
TEST_F(ReadUserString, LongValuesAreCutAt4049CharactersOrRefused) {
    const struct {
        int characters;
        int result;
        int length;
    } cases[] = {{4048, 1, 4048}, {4049, 1, 4049}, {4050, 1, 4049}, {4095, 1, 4049}, {4096, 0, 0}, {5000, 0, 0}};
    for (const auto& c : cases) {
        storeText(userKey, "Long", c.characters);
        Destination destination(8192);
        EXPECT_EQ(c.result, readUserString(userKey.c_str(), "Long", destination.data(), destination.size))
            << c.characters << " characters";
        if (c.result) {
            EXPECT_EQ(c.length, (int)strlen(destination.data())) << c.characters << " characters";
            EXPECT_EQ('a' + (c.length - 1) % 26, destination.data()[c.length - 1]);
            // Nothing beyond the 4050 bytes is written.
            EXPECT_TRUE(std::all_of(destination.bytes.begin() + 4050, destination.bytes.begin() + 8192,
                                    [](char b) { return b == 'X'; }))
                << c.characters << " characters";
        } else {
            EXPECT_TRUE(destination.untouched()) << c.characters << " characters";
        }
        EXPECT_TRUE(destination.canaryIntact());
    }
}

TEST_F(ReadUserString, HandsBackATerminatedTextWhateverIsStored) {
    // Without a terminator.
    setRaw(HKEY_CURRENT_USER, userKey, "Bare", REG_SZ, "abc", 3);
    Destination bare(16);
    EXPECT_EQ(1, readUserString(userKey.c_str(), "Bare", bare.data(), bare.size));
    EXPECT_STREQ("abc", bare.data());
    Destination tight(4);
    EXPECT_EQ(1, readUserString(userKey.c_str(), "Bare", tight.data(), tight.size));
    EXPECT_STREQ("abc", tight.data());
    EXPECT_TRUE(tight.canaryIntact());

    // A NUL inside: the text ends there, and the rest of the stored size
    // (within the destination) becomes zero bytes.
    setRaw(HKEY_CURRENT_USER, userKey, "Inner", REG_SZ, "ab\0cdef", 8);
    Destination inner(16);
    EXPECT_EQ(1, readUserString(userKey.c_str(), "Inner", inner.data(), inner.size));
    EXPECT_EQ(std::string(8, '\0').replace(0, 2, "ab"), std::string(inner.data(), 8));
    EXPECT_EQ(std::string(8, 'X'), std::string(inner.data() + 8, 8));
    Destination innerTight(5);
    EXPECT_EQ(1, readUserString(userKey.c_str(), "Inner", innerTight.data(), innerTight.size));
    EXPECT_STREQ("ab", innerTight.data());
    EXPECT_TRUE(innerTight.canaryIntact());
}

// ---- deleteKeyTree --------------------------------------------------------------

using DeleteKeyTree = RegistryTest;

size_t positionOf(const std::string& name) {
    return std::find(deletedKeys.begin(), deletedKeys.end(), name) - deletedKeys.begin();
}

TEST_F(DeleteKeyTree, RemovesNestedKeysDeepestFirst) {
    for (const char* sub : {"A\\A1", "A\\A2\\A2x", "B"}) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, (userKey + "\\" + sub).c_str(), &key));
        RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"x", 2);
        RegCloseKey(key);
    }
    EXPECT_EQ(1, deleteKeyTree(HKEY_CURRENT_USER, userKey.c_str()));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, userKey));
    ASSERT_EQ(6u, deletedKeys.size());
    EXPECT_EQ(userKey, deletedKeys.back());
    EXPECT_LT(positionOf("A2x"), positionOf("A2"));
    EXPECT_LT(positionOf("A1"), positionOf("A"));
    EXPECT_LT(positionOf("A2"), positionOf("A"));
    EXPECT_LT(positionOf("B"), deletedKeys.size() - 1);
}

TEST_F(DeleteKeyTree, KeyWithoutSubkeysGoesAtOnceAndAMissingKeyIsRefused) {
    setRaw(HKEY_CURRENT_USER, userKey, "v", REG_SZ, "x", 2);
    EXPECT_EQ(1, deleteKeyTree(HKEY_CURRENT_USER, userKey.c_str()));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, userKey));
    const std::vector<std::string> once = {userKey};
    EXPECT_EQ(once, deletedKeys);

    EXPECT_EQ(0, deleteKeyTree(HKEY_CURRENT_USER, userKey.c_str()));
    EXPECT_EQ(once, deletedKeys);
}

DWORD WINAPI deleteKeyTreeThread(LPVOID path) { return (DWORD)deleteKeyTree(HKEY_CURRENT_USER, (const char*)path); }

// A subkey that cannot be deleted is tried once; the work on every key above
// it ends there, with result 0.
TEST_F(DeleteKeyTree, SurvivingSubkeyEndsTheWorkOnItsParents) {
    for (const char* sub : {"A\\A1", "A\\A2", "B"}) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, (userKey + "\\" + sub).c_str(), &key));
        RegCloseKey(key);
    }
    failDeleteOn = "A1";
    HANDLE thread = CreateThread(0, 0, deleteKeyTreeThread, (LPVOID)userKey.c_str(), 0, 0);
    ASSERT_TRUE(thread != 0);
    const bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    if (!ended) TerminateThread(thread, 2);
    DWORD result = 2;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    ASSERT_TRUE(ended) << "deleteKeyTree did not return";
    EXPECT_EQ(0u, result);
    const std::vector<std::string> once = {"A1"};
    EXPECT_EQ(once, deletedKeys);
    for (const char* stays : {"A\\A1", "A\\A2", "B"}) {
        EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, userKey + "\\" + stays)) << stays;
    }
}

}  // namespace
