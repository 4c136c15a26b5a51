// Painting of the main window with plain GDI. Every object selected into a
// device context is selected back out before an operation returns.
#include <windows.h>

#include "app/main_window.h"
#include "platform/bounded_text.h"
#include "setup/procedures.h"

namespace {

const COLORREF BLACK = RGB(0, 0, 0);
const COLORREF WHITE = RGB(255, 255, 255);
const COLORREF GREY = 0x646464;

HFONT createArial(int height, int weight) {
    LOGFONTA font;
    zeroBlock(&font, sizeof font);
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfCharSet = ANSI_CHARSET;
    textCopy(font.lfFaceName, sizeof font.lfFaceName, "Arial");
    return CreateFontIndirectA(&font);
}

void drawLine(HDC dc, const char* text, int left, int top, int right, int bottom, UINT format) {
    RECT r = {left, top, right, bottom};
    DrawTextA(dc, text, -1, &r, format);
}

}  // namespace

const char* osClassText(int osClass) {
    switch (osClass) {
        case 0: return "O/S: < XP";
        case 1: return "O/S: WIN XP";
        case 3: return "O/S: VISTA";
        case 4: return "O/S: WIN7";
        case 5:
        case 6:
        case 7:
        case 8: return "O/S: > WIN7";
        default: return "O/S: unknown";
    }
}

void loadPaintResources(InstallerState* state) {
    state->fontBold = createArial(16, 800);
    state->fontLarge = createArial(40, 400);
    state->backgroundBitmap = LoadBitmapA(state->instance, MAKEINTRESOURCEA(101));
    BITMAP bitmap;
    zeroBlock(&bitmap, sizeof bitmap);
    // Without the bitmap the sizes are 0 rather than undefined.
    if (state->backgroundBitmap == 0 || GetObjectA(state->backgroundBitmap, sizeof bitmap, &bitmap) == 0)
        zeroBlock(&bitmap, sizeof bitmap);
    state->bitmapWidth = bitmap.bmWidth;
    state->bitmapHeight = bitmap.bmHeight;
}

void needPaintResources(InstallerState* state) {
    if (state->paintResourcesLoaded) return;
    state->paintResourcesLoaded = 1;
    loadPaintResources(state);
}

int releasePaintResources(InstallerState* state) {
    if (state->backgroundBitmap != 0) DeleteObject(state->backgroundBitmap);
    state->backgroundBitmap = 0;
    if (state->fontBold != 0) DeleteObject(state->fontBold);
    state->fontBold = 0;
    if (state->fontLarge != 0) DeleteObject(state->fontLarge);
    state->fontLarge = 0;
    return 0;
}

void drawBackground(HDC dc, int x, int y, HBITMAP bitmap) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BITMAP info;
    zeroBlock(&info, sizeof info);
    GetObjectA(bitmap, sizeof info, &info);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void paintWindow(InstallerState* state, HDC dc) {
    HGDIOBJ previousFont = SelectObject(dc, state->fontBold);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GREY);
    drawLine(dc, osClassText(state->osClass), 15, 10, state->bitmapWidth, state->bitmapHeight, DT_SINGLELINE);
    SelectObject(dc, previousFont);
    drawInfoBand(state, dc);
    drawActionButton(state, dc, 0);
}

void drawInfoBand(InstallerState* state, HDC dc) {
    const int w = state->bitmapWidth, h = state->bitmapHeight;
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    HGDIOBJ previousPen = SelectObject(dc, GetStockObject(NULL_PEN));
    // With the null pen the fill is one pixel smaller in each direction.
    Rectangle(dc, 0, h, w + 1, h + 101);

    HGDIOBJ previousFont = SelectObject(dc, state->fontBold);
    SetTextColor(dc, BLACK);
    SetBkMode(dc, TRANSPARENT);
    char line[256];
    if (state->alreadyInstalled)
        textFormat(line, sizeof line, "%s is already installed...", PRODUCT_DISPLAY_NAME);
    else
        textCopy(line, sizeof line, "Ready to install ? Click the button right there...");
    drawLine(dc, line, 20, h + 30, w, h + 100, DT_SINGLELINE);

    SetTextColor(dc, GREY);
    if (state->alreadyInstalled)
        textCopy(line, sizeof line, "previous version has to be removed before installing new one...");
    else
        textFormat(line, sizeof line, "it will install Fenmarch %s on your system...", PRODUCT_DISPLAY_NAME);
    drawLine(dc, line, 20, h + 50, w, h + 100, DT_SINGLELINE);

    SelectObject(dc, previousFont);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
}

namespace {

void storeButtonRect(InstallerState* state) {
    const int w = state->bitmapWidth, h = state->bitmapHeight;
    SetRect(&state->buttonRect, w - 320, h + 20, w - 20, h + 80);
}

}  // namespace

void drawActionButton(InstallerState* state, HDC dc, int pressed) {
    storeButtonRect(state);
    const RECT r = state->buttonRect;
    HGDIOBJ previousPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(pressed ? BLACK_BRUSH : WHITE_BRUSH));
    SetTextColor(dc, pressed ? WHITE : BLACK);
    // One beyond right and bottom, so the outline runs along the last column and row.
    RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, 8, 8);
    HGDIOBJ previousFont = SelectObject(dc, state->fontLarge);
    SetBkMode(dc, TRANSPARENT);
    drawLine(dc, state->alreadyInstalled ? "Remove" : "Install", r.left, r.top, r.right, r.bottom,
             DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SelectObject(dc, previousFont);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
}

void drawBusyBox(InstallerState* state, HDC dc, int showLabel) {
    storeButtonRect(state);
    const RECT r = state->buttonRect;
    HGDIOBJ previousPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
    HGDIOBJ previousFont = SelectObject(dc, state->fontLarge);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, WHITE);
    RoundRect(dc, r.left, r.top, r.right + 1, r.bottom + 1, 8, 8);
    if (showLabel == 1)
        drawLine(dc, "Installing", r.left, r.top, r.right, r.bottom - 15, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SelectObject(dc, state->fontBold);
    // A whole copy of the status text, never one the worker is rewriting.
    char status[STATUS_TEXT_SIZE];
    copyStatusText(state, status, sizeof status);
    drawLine(dc, status, r.left, r.top + 40, r.right, r.bottom, DT_SINGLELINE | DT_CENTER);
    SelectObject(dc, previousFont);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
}
