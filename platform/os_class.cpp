#include "platform/os_class.h"

int osClassFromVersion(uint32_t major, uint32_t minor, uint32_t productType, VersionRecord record) {
    if (record == VERSION_RECORD_NONE) return OS_UNKNOWN;
    if (record == VERSION_RECORD_BASIC) productType = 0;
    if (major <= 5) {
        if (minor == 0) return OS_WINDOWS_2000;
        if (minor == 2) return OS_WINDOWS_XP64_2003;
        return OS_WINDOWS_XP;
    }
    if (major == 6) {
        switch (minor) {
            case 0: return OS_WINDOWS_VISTA;
            case 1: return productType == 1 ? OS_WINDOWS_7 : OS_WINDOWS_VISTA;
            case 2: return OS_WINDOWS_8;
            case 3: return OS_WINDOWS_8_1;
            default: return OS_UNKNOWN;
        }
    }
    if (major == 10) return OS_WINDOWS_10;
    if (major >= 11) return OS_WINDOWS_11_OR_LATER;
    return OS_UNKNOWN;
}
