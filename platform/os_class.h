// Which generation of Windows a version number denotes. Pure: no platform
// calls, so the table is tested natively.
#ifndef ORLO_PLATFORM_OS_CLASS_H
#define ORLO_PLATFORM_OS_CLASS_H

#include <stdint.h>

const int OS_UNKNOWN = -1;
const int OS_WINDOWS_2000 = 0;
const int OS_WINDOWS_XP = 1;
const int OS_WINDOWS_XP64_2003 = 2;
const int OS_WINDOWS_VISTA = 3;
const int OS_WINDOWS_7 = 4;
const int OS_WINDOWS_8 = 5;
const int OS_WINDOWS_8_1 = 6;
const int OS_WINDOWS_10 = 7;
const int OS_WINDOWS_11_OR_LATER = 8;

// Which record GetVersionExA filled: the extended one (with product type) or
// only the basic one (product type then reads as 0).
enum VersionRecord { VERSION_RECORD_EXTENDED, VERSION_RECORD_BASIC, VERSION_RECORD_NONE };

// productType: 1 = workstation (VER_NT_WORKSTATION).
int osClassFromVersion(uint32_t major, uint32_t minor, uint32_t productType, VersionRecord record);

#endif
