// orlo-gen-assets: paints the installer's pictures.
//
//   orlo-gen-assets ICON.ico BITMAP.bmp
//
// ICON.ico gets two 16-colour images (16x16 and 32x32), BITMAP.bmp the
// 900 x 424 background, 24 bits per pixel, uncompressed, bottom-up.
//
// Every coordinate and colour is computed in integers, so the output is the
// same byte for byte on every host, compiler and C library: no floating
// point, no clock, no randomness. Edges are smoothed by 4 x 4 supersampling;
// geometry is written in eighths of a pixel (E(v) turns pixels into that
// unit) and the samples sit at odd eighths, so no sample lies on a pixel
// border.
//
// The background is a hazy morning sky over hills, a town on the far hill
// and a lattice radio mast whose beacon sends out concentric waves. The
// program paints its operating-system line in grey at (15, 10) over the
// picture, so the top-left corner stays light sky; the text band and the
// button lie below the picture and cover none of it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using i64 = int64_t;

constexpr i64 E(i64 pixels) { return pixels * 8; }

struct Rgb {
    int r, g, b;
};

// alpha in 0..256
Rgb mix(Rgb under, Rgb over, int alpha) {
    if (alpha <= 0) return under;
    if (alpha >= 256) return over;
    return {under.r + ((over.r - under.r) * alpha) / 256, under.g + ((over.g - under.g) * alpha) / 256,
            under.b + ((over.b - under.b) * alpha) / 256};
}

// Colour at position t of [0, span] between a and b.
Rgb ramp(Rgb a, Rgb b, i64 t, i64 span) {
    if (t <= 0) return a;
    if (t >= span) return b;
    return mix(a, b, (int)(t * 256 / span));
}

bool inCircle(i64 x, i64 y, i64 cx, i64 cy, i64 r) {
    const i64 dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy <= r * r;
}

bool inRect(i64 x, i64 y, i64 left, i64 top, i64 right, i64 bottom) {
    return x >= left && x < right && y >= top && y < bottom;
}

// True when (x, y) lies within halfWidth of the segment a-b (round ends).
bool nearSegment(i64 x, i64 y, i64 ax, i64 ay, i64 bx, i64 by, i64 halfWidth) {
    const i64 dx = bx - ax, dy = by - ay;
    const i64 px = x - ax, py = y - ay;
    const i64 length2 = dx * dx + dy * dy;
    const i64 along = px * dx + py * dy;
    if (along <= 0 || length2 == 0) return px * px + py * py <= halfWidth * halfWidth;
    if (along >= length2) {
        const i64 qx = x - bx, qy = y - by;
        return qx * qx + qy * qy <= halfWidth * halfWidth;
    }
    const i64 cross = px * dy - py * dx;
    return cross * cross <= halfWidth * halfWidth * length2;
}

// A rounded hill: height a at c, falling to half at c +- w.
i64 bump(i64 x, i64 c, i64 w, i64 a) {
    const i64 d = x - c;
    return a * w * w / (w * w + d * d);
}

// Arc of a ring around (cx, cy): radius r, stroke halfWidth, limited to the
// cones within 45 degrees of the horizontal on both sides, with round caps.
bool onWave(i64 x, i64 y, i64 cx, i64 cy, i64 r, i64 halfWidth) {
    const i64 dx = x - cx, dy = y - cy;
    const i64 d2 = dx * dx + dy * dy;
    const i64 inner = r - halfWidth, outer = r + halfWidth;
    const i64 adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    if (d2 >= inner * inner && d2 <= outer * outer && ady <= adx) return true;
    // Caps at the four arc ends: cos 45 = sin 45 = 0.7071.
    const i64 e = r * 7071 / 10000;
    return inCircle(adx, ady, e, e, halfWidth);
}

// ---------------------------------------------------------------------------
// Background, 900 x 424

constexpr int BG_WIDTH = 900;
constexpr int BG_HEIGHT = 424;

struct Cloud {
    i64 bottom;
    struct {
        i64 x, y, r;
    } puffs[5];
};

const Cloud CLOUDS[] = {
    {E(112),
     {{E(112), E(100), E(12)},
      {E(138), E(92), E(20)},
      {E(168), E(88), E(24)},
      {E(196), E(98), E(14)},
      {E(214), E(104), E(8)}}},
    {E(70),
     {{E(440), E(62), E(8)},
      {E(458), E(54), E(14)},
      {E(482), E(50), E(18)},
      {E(506), E(58), E(12)},
      {E(522), E(64), E(6)}}},
    {E(120),
     {{E(806), E(114), E(6)},
      {E(822), E(106), E(12)},
      {E(842), E(104), E(14)},
      {E(862), E(112), E(8)},
      {E(872), E(116), E(4)}}},
};

// The town's buildings: left edge, width, roof line (pixels). Their feet are
// hidden by the far hill.
const struct {
    int x, width, top;
} BUILDINGS[] = {
    {40, 16, 266},  {58, 12, 278},  {72, 22, 250},  {96, 14, 270},  {112, 18, 240},
    {132, 12, 262}, {146, 24, 254}, {172, 14, 272}, {188, 18, 262}, {208, 12, 276},
};
constexpr int BUILDING_FOOT = 330;

const Rgb SKY_TOP{214, 232, 250};
const Rgb SKY_MIDDLE{234, 240, 246};
const Rgb SKY_HORIZON{255, 234, 206};
const Rgb SUN_GLOW{255, 240, 205};
const Rgb SUN{255, 222, 150};
const Rgb CLOUD_TOP{255, 255, 255};
const Rgb CLOUD_BASE{228, 235, 246};
const Rgb TOWN{178, 198, 214};
const Rgb WINDOW_LIGHT{252, 236, 180};
const Rgb FAR_HILL_TOP{166, 196, 204};
const Rgb FAR_HILL_FOOT{148, 180, 190};
const Rgb HILL_TOP{112, 166, 110};
const Rgb HILL_FOOT{74, 128, 88};
const Rgb FRONT_HILL_TOP{92, 146, 94};
const Rgb FRONT_HILL_FOOT{62, 112, 76};
const Rgb MAST{48, 60, 88};
const Rgb HUT_WALL{238, 232, 222};
const Rgb HUT_ROOF{72, 84, 110};
const Rgb BEACON{226, 54, 44};
const Rgb WAVE{236, 104, 64};

// The mast: feet on the middle hill's crest, legs narrowing to the top of
// the lattice, an antenna above it and the beacon on the antenna's tip.
constexpr i64 MAST_X = E(660);
constexpr i64 MAST_FOOT = E(330);
constexpr i64 MAST_TOP = E(138);
constexpr i64 MAST_FOOT_HALF = E(30);
constexpr i64 MAST_TOP_HALF = E(4);
constexpr int MAST_LEVELS = 7;
constexpr i64 BEACON_X = MAST_X;
constexpr i64 BEACON_Y = E(100);

i64 farHill(i64 x) {
    return E(338) - bump(x, E(120), E(170), E(44)) - bump(x, E(430), E(130), E(26)) - bump(x, E(860), E(190), E(40));
}
i64 middleHill(i64 x) {
    return E(424) - bump(x, E(660), E(240), E(92)) - bump(x, E(130), E(200), E(48)) - bump(x, E(400), E(120), E(14));
}
i64 frontHill(i64 x) { return E(432) - bump(x, E(180), E(260), E(62)); }

i64 mastLevelY(int level) { return MAST_FOOT - (MAST_FOOT - MAST_TOP) * level / MAST_LEVELS; }
i64 mastHalfAt(i64 y) {
    return MAST_FOOT_HALF - (MAST_FOOT_HALF - MAST_TOP_HALF) * (MAST_FOOT - y) / (MAST_FOOT - MAST_TOP);
}

bool onMast(i64 x, i64 y) {
    if (x < MAST_X - MAST_FOOT_HALF - E(3) || x > MAST_X + MAST_FOOT_HALF + E(3) || y < BEACON_Y - E(4) ||
        y > MAST_FOOT + E(2))
        return false;
    // Legs.
    if (nearSegment(x, y, MAST_X - MAST_FOOT_HALF, MAST_FOOT, MAST_X - MAST_TOP_HALF, MAST_TOP, 12)) return true;
    if (nearSegment(x, y, MAST_X + MAST_FOOT_HALF, MAST_FOOT, MAST_X + MAST_TOP_HALF, MAST_TOP, 12)) return true;
    // Antenna.
    if (nearSegment(x, y, MAST_X, MAST_TOP, MAST_X, BEACON_Y, 8)) return true;
    // Horizontal bars and crossed braces of each lattice section.
    for (int level = 0; level < MAST_LEVELS; level++) {
        const i64 y0 = mastLevelY(level), y1 = mastLevelY(level + 1);
        if (y > y0 + E(2) || y < y1 - E(2)) continue;
        const i64 h0 = mastHalfAt(y0), h1 = mastHalfAt(y1);
        if (nearSegment(x, y, MAST_X - h1, y1, MAST_X + h1, y1, 6)) return true;
        if (nearSegment(x, y, MAST_X - h0, y0, MAST_X + h1, y1, 5)) return true;
        if (nearSegment(x, y, MAST_X + h0, y0, MAST_X - h1, y1, 5)) return true;
    }
    return false;
}

// Lit windows of the town: a fixed pattern taken from a small integer hash.
bool isLitWindow(i64 x, i64 y, int building) {
    const i64 px = x / 8 - BUILDINGS[building].x - 3, py = y / 8 - BUILDINGS[building].top - 4;
    if (px < 0 || py < 0 || px % 5 >= 2 || py % 6 >= 2) return false;
    if (px / 5 * 5 + 2 > BUILDINGS[building].width - 6) return false;
    uint32_t h = (uint32_t)(building * 7919 + (px / 5) * 104729 + (py / 6) * 1299709);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 3) == 0;
}

// Heights of the three hills at one sample column.
struct Hills {
    i64 far, middle, front;
};

Rgb backgroundSample(i64 x, i64 y, const Hills& hills) {
    // Sky: pale blue above, warming towards the horizon.
    Rgb c = y < E(180) ? ramp(SKY_TOP, SKY_MIDDLE, y, E(180)) : ramp(SKY_MIDDLE, SKY_HORIZON, y - E(180), E(130));

    // Low sun and its glow.
    const i64 sunX = E(250), sunY = E(300), glow = E(300);
    const i64 sdx = x - sunX, sdy = y - sunY, d2 = sdx * sdx + sdy * sdy;
    if (d2 < glow * glow) {
        const i64 q = (glow * glow - d2) * 256 / (glow * glow);
        c = mix(c, SUN_GLOW, (int)(q * q / 256 * 140 / 256));
    }
    if (d2 <= E(40) * E(40)) c = SUN;

    // Flat-bottomed clouds, shaded towards their base.
    for (const Cloud& cloud : CLOUDS) {
        if (y > cloud.bottom) continue;
        for (const auto& p : cloud.puffs) {
            if (inCircle(x, y, p.x, p.y, p.r)) {
                c = mix(c, ramp(CLOUD_TOP, CLOUD_BASE, y - (cloud.bottom - E(30)), E(30)), 230);
                break;
            }
        }
    }

    // The town behind the far hill.
    for (int i = 0; i < (int)(sizeof BUILDINGS / sizeof BUILDINGS[0]); i++) {
        const auto& b = BUILDINGS[i];
        if (inRect(x, y, E(b.x), E(b.top), E(b.x + b.width), E(BUILDING_FOOT))) {
            c = isLitWindow(x, y, i) ? WINDOW_LIGHT : TOWN;
            break;
        }
    }

    // Three hills, back to front.
    const i64 far = hills.far;
    if (y >= far) c = ramp(FAR_HILL_TOP, FAR_HILL_FOOT, y - far, E(60));
    const i64 middle = hills.middle;
    if (y >= middle) c = ramp(HILL_TOP, HILL_FOOT, y - middle, E(424) - middle);

    // Mast, beacon and the transmitter hut at the mast's feet.
    if (onMast(x, y)) c = MAST;
    const i64 bdx = x - BEACON_X, bdy = y - BEACON_Y, b2 = bdx * bdx + bdy * bdy;
    if (b2 < E(16) * E(16)) {
        const i64 q = (E(16) * E(16) - b2) * 256 / (E(16) * E(16));
        c = mix(c, BEACON, (int)(q * q / 256 / 2));
    }
    if (b2 <= 36 * 36) c = BEACON;  // radius 4.5 pixels
    if (inRect(x, y, E(636), E(304), E(684), E(311))) c = HUT_ROOF;
    if (inRect(x, y, E(640), E(311), E(680), E(334)))
        c = inRect(x, y, E(654), E(318), E(666), E(334)) ? HUT_ROOF : HUT_WALL;

    const i64 front = hills.front;
    if (y >= front) c = ramp(FRONT_HILL_TOP, FRONT_HILL_FOOT, y - front, E(432) - front);

    // Waves from the beacon, fading outwards.
    if (x > E(520) && x < E(800) && y < E(200)) {
        static const int alpha[5] = {235, 205, 170, 135, 100};
        for (int k = 0; k < 5; k++) {
            if (onWave(x, y, BEACON_X, BEACON_Y, E(26 + 24 * k), 16)) {
                c = mix(c, WAVE, alpha[k]);
                break;
            }
        }
    }
    return c;
}

// Rows bottom-up, BGR, each row a multiple of 4 bytes (2700 is one).
std::vector<uint8_t> renderBackground() {
    const uint32_t stride = (BG_WIDTH * 3 + 3) & ~3u;
    const uint32_t pixelBytes = stride * BG_HEIGHT;
    std::vector<uint8_t> bmp(54 + pixelBytes, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        bmp[at] = (uint8_t)v;
        bmp[at + 1] = (uint8_t)(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    // BITMAPFILEHEADER
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, (uint32_t)bmp.size());
    put32(10, 54);
    // BITMAPINFOHEADER: positive height = bottom-up, BI_RGB, 72 dpi.
    put32(14, 40);
    put32(18, BG_WIDTH);
    put32(22, BG_HEIGHT);
    put16(26, 1);
    put16(28, 24);
    put32(30, 0);
    put32(34, pixelBytes);
    put32(38, 2835);
    put32(42, 2835);

    std::vector<Hills> hills(BG_WIDTH * 4);
    for (size_t sx = 0; sx < hills.size(); sx++) {
        const i64 x = 2 * (i64)sx + 1;  // the sample columns: odd eighths
        hills[sx] = {farHill(x), middleHill(x), frontHill(x)};
    }
    for (int py = 0; py < BG_HEIGHT; py++) {
        uint8_t* row = &bmp[54 + (size_t)(BG_HEIGHT - 1 - py) * stride];
        for (int px = 0; px < BG_WIDTH; px++) {
            int r = 0, g = 0, b = 0;
            for (int sy = 0; sy < 4; sy++) {
                for (int sx = 0; sx < 4; sx++) {
                    const Rgb c = backgroundSample(E(px) + 2 * sx + 1, E(py) + 2 * sy + 1, hills[px * 4 + sx]);
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            }
            row[px * 3 + 0] = (uint8_t)((b + 8) / 16);
            row[px * 3 + 1] = (uint8_t)((g + 8) / 16);
            row[px * 3 + 2] = (uint8_t)((r + 8) / 16);
        }
    }
    return bmp;
}

// ---------------------------------------------------------------------------
// Icon: a round badge of sky with a hill, the mast, its beacon and two waves
// on each side. Drawn on a 32-pixel canvas in eighths (0..256); the 16-pixel
// image samples the same canvas more coarsely with heavier strokes.

const Rgb PALETTE[16] = {
    {0, 0, 0},        // transparent pixels
    {30, 80, 140},    // badge rim
    {90, 160, 225},   // sky, top
    {130, 185, 235},  // sky, middle
    {175, 215, 245},  // sky, bottom
    {36, 48, 76},     // mast
    {80, 110, 150},   // mast over sky
    {245, 120, 70},   // wave
    {215, 150, 150},  // wave over sky
    {235, 50, 40},    // beacon
    {70, 150, 90},    // hill
    {50, 115, 70},    // hill, shade
    {255, 255, 255},  // highlight
    {110, 160, 140},  // hill over sky
    {60, 100, 110},   // mast over hill
    {150, 90, 80},    // wave over mast
};

struct IconSample {
    bool opaque;
    Rgb colour;
};

IconSample iconSample(i64 x, i64 y, bool small) {
    const i64 centre = 128;
    const i64 dx = x - centre, dy = y - centre, d2 = dx * dx + dy * dy;
    const i64 radius = 124;
    if (d2 > radius * radius) return {false, {0, 0, 0}};
    const i64 rim = small ? 10 : 8;
    if (d2 >= (radius - rim) * (radius - rim)) return {true, PALETTE[1]};

    Rgb c = y < 128 ? ramp(PALETTE[2], PALETTE[3], y - 16, 112) : ramp(PALETTE[3], PALETTE[4], y - 128, 96);
    if (inCircle(x, y, 128, 360, 170)) c = y > 216 ? PALETTE[11] : PALETTE[10];

    const i64 beaconX = 128, beaconY = small ? 76 : 72;
    const i64 leg = small ? 12 : 7;
    if (nearSegment(x, y, 92, 214, 121, beaconY + 16, leg) || nearSegment(x, y, 164, 214, 135, beaconY + 16, leg))
        c = PALETTE[5];
    if (!small && (nearSegment(x, y, 96, 190, 131, 130, 4) || nearSegment(x, y, 160, 190, 125, 130, 4) ||
                   nearSegment(x, y, 104, 150, 152, 150, 4)))
        c = PALETTE[5];
    if (nearSegment(x, y, 128, beaconY + 16, 128, beaconY, small ? 8 : 5)) c = PALETTE[5];
    if (inCircle(x, y, beaconX, beaconY, small ? 20 : 14)) c = PALETTE[9];

    // Two waves a side; the 16-pixel image has room for one.
    const bool onWaves = small ? onWave(x, y, beaconX, beaconY, 76, 14)
                               : onWave(x, y, beaconX, beaconY, 48, 9) || onWave(x, y, beaconX, beaconY, 88, 9);
    if (onWaves) c = PALETTE[7];
    return {true, c};
}

int nearestPaletteIndex(Rgb c) {
    int best = 1;
    i64 bestDistance = -1;
    for (int i = 1; i < 16; i++) {  // 0 stays reserved for transparent pixels
        const i64 dr = c.r - PALETTE[i].r, dg = c.g - PALETTE[i].g, db = c.b - PALETTE[i].b;
        const i64 d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// One icon image as stored in an .ico: BITMAPINFOHEADER with the doubled
// height, 16-entry palette, 4-bit colour rows and 1-bit mask rows, both
// bottom-up.
std::vector<uint8_t> renderIconImage(int size) {
    const bool small = size < 32;
    const i64 step = 256 / size;
    const uint32_t colourStride = ((size * 4 + 31) / 32) * 4;
    const uint32_t maskStride = ((size + 31) / 32) * 4;
    const uint32_t colourBytes = colourStride * size, maskBytes = maskStride * size;
    std::vector<uint8_t> image(40 + 16 * 4 + colourBytes + maskBytes, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) image[at + i] = (uint8_t)(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, (uint32_t)size);
    put32(8, (uint32_t)size * 2);
    image[12] = 1;  // planes
    image[14] = 4;  // bits per pixel
    put32(20, colourBytes + maskBytes);
    for (int i = 0; i < 16; i++) {
        image[40 + 4 * i] = (uint8_t)PALETTE[i].b;
        image[40 + 4 * i + 1] = (uint8_t)PALETTE[i].g;
        image[40 + 4 * i + 2] = (uint8_t)PALETTE[i].r;
    }
    uint8_t* colour = &image[40 + 64];
    uint8_t* mask = colour + colourBytes;
    for (int py = 0; py < size; py++) {
        const int row = size - 1 - py;
        for (int px = 0; px < size; px++) {
            int covered = 0, r = 0, g = 0, b = 0;
            for (int sy = 0; sy < 4; sy++) {
                for (int sx = 0; sx < 4; sx++) {
                    const IconSample s =
                        iconSample(px * step + (2 * sx + 1) * step / 8, py * step + (2 * sy + 1) * step / 8, small);
                    if (!s.opaque) continue;
                    covered++;
                    r += s.colour.r;
                    g += s.colour.g;
                    b += s.colour.b;
                }
            }
            int index = 0;
            if (covered >= 8) {
                index = nearestPaletteIndex(
                    {(r + covered / 2) / covered, (g + covered / 2) / covered, (b + covered / 2) / covered});
            } else {
                mask[row * maskStride + px / 8] |= (uint8_t)(0x80 >> (px % 8));
            }
            colour[row * colourStride + px / 2] |= (uint8_t)(px % 2 ? index : index << 4);
        }
    }
    return image;
}

std::vector<uint8_t> renderIconFile() {
    const int sizes[2] = {16, 32};
    std::vector<uint8_t> images[2] = {renderIconImage(sizes[0]), renderIconImage(sizes[1])};
    std::vector<uint8_t> ico(6 + 16 * 2, 0);
    ico[2] = 1;  // type: icon
    ico[4] = 2;  // two images
    uint32_t offset = (uint32_t)ico.size();
    for (int i = 0; i < 2; i++) {
        uint8_t* e = &ico[6 + 16 * i];
        e[0] = (uint8_t)sizes[i];
        e[1] = (uint8_t)sizes[i];
        e[2] = 16;  // colours
        e[4] = 1;   // planes
        e[6] = 4;   // bits per pixel
        const uint32_t length = (uint32_t)images[i].size();
        for (int k = 0; k < 4; k++) {
            e[8 + k] = (uint8_t)(length >> (8 * k));
            e[12 + k] = (uint8_t)(offset >> (8 * k));
        }
        offset += length;
    }
    for (const auto& image : images) ico.insert(ico.end(), image.begin(), image.end());
    return ico;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "orlo-gen-assets: error: %s: cannot create: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "orlo-gen-assets: error: %s: write failed\n", path.c_str());
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: orlo-gen-assets ICON.ico BITMAP.bmp\n");
        return 2;
    }
    if (!writeFile(argv[1], renderIconFile())) return 2;
    if (!writeFile(argv[2], renderBackground())) return 2;
    return 0;
}
