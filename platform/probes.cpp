// System probes: the Windows generation and the window frame's metrics.
#include "platform/bounded_text.h"
#include "platform/os_class.h"
#include "platform/platform_ops.h"

namespace {

// SM_CXPADDEDBORDER exists from Windows Vista on; older systems answer 0.
const int METRIC_PADDED_BORDER = 92;
const DWORD FIXED_FRAME_FLAG = 1;

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record");
static_assert(sizeof(OSVERSIONINFOA) == 148, "basic version record");

}  // namespace

void useAnsiCodePage() {
    CPINFO info;
    if (GetCPInfo(CP_ACP, &info)) textSetLeadBytes(info.LeadByte, MAX_LEADBYTES / 2);
}

int classifyOs() {
    OSVERSIONINFOEXA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    VersionRecord record = VERSION_RECORD_EXTENDED;
    if (!GetVersionExA((OSVERSIONINFOA*)&version)) {
        // A system that refuses the extended record may still fill the
        // basic one; the product type then stays 0.
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        record = VERSION_RECORD_BASIC;
        if (!GetVersionExA((OSVERSIONINFOA*)&version)) record = VERSION_RECORD_NONE;
    }
    return osClassFromVersion(version.dwMajorVersion, version.dwMinorVersion, version.wProductType, record);
}

void getFrameMetrics(int* borderWidth, int* captionHeight, int* menuHeight, DWORD frameFlags) {
    const int paddedBorder = GetSystemMetrics(METRIC_PADDED_BORDER);
    if (menuHeight) *menuHeight = GetSystemMetrics(SM_CYMENU);
    if (borderWidth) {
        const int frame = GetSystemMetrics((frameFlags & FIXED_FRAME_FLAG) ? SM_CXFIXEDFRAME : SM_CXSIZEFRAME);
        *borderWidth = paddedBorder + frame;
    }
    if (captionHeight) *captionHeight = GetSystemMetrics(SM_CYCAPTION);
}
