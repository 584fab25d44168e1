// Draws the scene's background picture, bitmap resource 101: a dark, lit
// instrument console with a round screen of concentric amber rings and
// labelled knobs. Writes a 500 x 500, 24-bit, uncompressed, bottom-up BMP.
//
//   genbackground OUT.bmp
//
// Everything is computed from fixed numbers, so the same file comes out of
// every run; resources/background.bmp is its committed output.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

const int SIZE = 500;
const double PI = 3.14159265358979323846;

struct Colour {
    double r, g, b;
};

Colour Picture[SIZE][SIZE];  // [y][x], y down

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double Smooth(double edge0, double edge1, double v) {
    double t = Clamp((v - edge0) / (edge1 - edge0), 0, 1);
    return t * t * (3 - 2 * t);
}

// Deterministic per-pixel noise in [0, 1).
double Noise(int x, int y, uint32_t seed) {
    uint32_t h = (uint32_t)x * 374761393u + (uint32_t)y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / 16777216.0;
}

Colour Mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void Blend(int x, int y, Colour c, double coverage) {
    if (x < 0 || y < 0 || x >= SIZE || y >= SIZE || coverage <= 0) {
        return;
    }
    Picture[y][x] = Mix(Picture[y][x], c, Clamp(coverage, 0, 1));
}

void AddLight(int x, int y, Colour c, double amount) {
    if (x < 0 || y < 0 || x >= SIZE || y >= SIZE) {
        return;
    }
    Picture[y][x].r += c.r * amount;
    Picture[y][x].g += c.g * amount;
    Picture[y][x].b += c.b * amount;
}

// The console's lamp hangs above the top left of the screen.
double Lamp(double x, double y) {
    double dx = x - 190, dy = y + 40;
    double spot = exp(-(dx * dx + dy * dy) / (2 * 230.0 * 230.0));
    double vignette = 1 - 0.55 * Smooth(180, 380, hypot(x - 250, y - 240));
    return (0.35 + 0.9 * spot) * vignette;
}

void DrawPanel() {
    for (int y = 0; y < SIZE; ++y) {
        double streak = Noise(0, y, 7) * 0.5 + Noise(1, y / 3, 8) * 0.5;  // brushed metal
        for (int x = 0; x < SIZE; ++x) {
            double grain = 0.85 + 0.15 * streak + 0.06 * (Noise(x, y, 3) - 0.5);
            double light = Lamp(x, y) * grain;
            Picture[y][x] = {44 * light, 47 * light, 54 * light};
        }
    }
    // Grooves between the console's plates, lit on their lower lip.
    const int grooves[] = {24, 476};
    for (int g : grooves) {
        for (int x = 0; x < SIZE; ++x) {
            Blend(x, g, {6, 6, 8}, 0.9);
            Blend(x, g + 1, {6, 6, 8}, 0.6);
            AddLight(x, g + 2, {60, 60, 66}, Lamp(x, g));
        }
    }
}

void DrawScrew(double cx, double cy) {
    for (int y = (int)cy - 8; y <= (int)cy + 8; ++y) {
        for (int x = (int)cx - 8; x <= (int)cx + 8; ++x) {
            double dx = x - cx, dy = y - cy, d = hypot(dx, dy);
            double inside = 1 - Smooth(5.5, 6.5, d);
            double shade = 0.6 + 0.5 * (-dx - dy) / 8;
            Blend(x, y, {90 * shade, 92 * shade, 96 * shade}, inside);
            // Slot at 30 degrees.
            double along = dx * cos(0.52) + dy * sin(0.52);
            double across = -dx * sin(0.52) + dy * cos(0.52);
            if (fabs(across) < 1.0 && fabs(along) < 4.5) {
                Blend(x, y, {15, 15, 17}, inside);
            }
        }
    }
}

const double SCREEN_X = 255, SCREEN_Y = 228, SCREEN_R = 142, BEZEL_R = 162;

void DrawScreen() {
    const Colour amber = {255, 170, 20};
    const double rings[] = {18, 42, 66, 90, 114, 134};
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            double dx = x - SCREEN_X, dy = y - SCREEN_Y, d = hypot(dx, dy);
            if (d > BEZEL_R + 6) {
                // Shadow that the bezel throws down and right.
                double sd = hypot(dx - 5, dy - 7);
                double shadow = 1 - Smooth(BEZEL_R, BEZEL_R + 14, sd);
                Picture[y][x] = Mix(Picture[y][x], {0, 0, 0}, 0.5 * shadow);
                continue;
            }
            // Bezel: a turned metal ring, bright where it faces the lamp.
            double angle = atan2(dy, dx);
            double facing = cos(angle - (-2.3));
            double ringPos = (d - SCREEN_R) / (BEZEL_R - SCREEN_R);
            double bevel = ringPos < 0.5 ? facing : -facing;
            double metal = 0.45 + 0.35 * bevel + 0.05 * sin(d * 2.1) + 0.04 * Noise(x, y, 11);
            Colour bezel = {120 * metal, 122 * metal, 128 * metal};
            double onBezel = Smooth(SCREEN_R - 0.5, SCREEN_R + 0.5, d) *
                             (1 - Smooth(BEZEL_R - 0.5, BEZEL_R + 0.5, d));
            // Glass: near black with a warm glow and the phosphor's rings.
            double glow = 0;
            for (double r : rings) {
                double off = d - r;
                glow += 1.0 * exp(-off * off / 1.2) + 0.25 * exp(-off * off / 30);
            }
            double cross = (fabs(dx) < 0.7 || fabs(dy) < 0.7) ? 0.22 : 0;
            double tick = 0;
            if (d > SCREEN_R - 9 && d < SCREEN_R - 3) {
                double step = fmod(angle + 2 * PI, PI / 18);
                tick = (step < 0.012 || step > PI / 18 - 0.012) ? 0.55 : 0;
            }
            double centre = 0.12 * exp(-d * d / (2 * 60.0 * 60.0));
            double phosphor = Clamp(glow + cross + tick + centre, 0, 1.4);
            Colour glass = {8 + amber.r * phosphor, 9 + amber.g * phosphor, 8 + amber.b * phosphor};
            // The lamp's reflection in the upper left of the glass.
            double rx = (dx + 60) / 70, ry = (dy + 75) / 38;
            double sheen = 0.16 * exp(-(rx * rx + ry * ry));
            glass = Mix(glass, {200, 205, 215}, sheen);
            double inGlass = 1 - Smooth(SCREEN_R - 0.5, SCREEN_R + 0.5, d);
            Colour old = Picture[y][x];
            double outside = 1 - onBezel - inGlass;
            Picture[y][x] = {glass.r * inGlass + bezel.r * onBezel + old.r * outside,
                             glass.g * inGlass + bezel.g * onBezel + old.g * outside,
                             glass.b * inGlass + bezel.b * onBezel + old.b * outside};
        }
    }
}

void DrawKnob(double cx, double cy, double pointer) {
    const double R = 22, SKIRT = 27;
    for (int y = (int)(cy - SKIRT - 8); y <= (int)(cy + SKIRT + 10); ++y) {
        for (int x = (int)(cx - SKIRT - 8); x <= (int)(cx + SKIRT + 10); ++x) {
            double dx = x - cx, dy = y - cy, d = hypot(dx, dy);
            double angle = atan2(dy, dx);
            // Drop shadow.
            double shadow = 1 - Smooth(SKIRT - 2, SKIRT + 6, hypot(dx - 4, dy - 5));
            if (d > SKIRT) {
                Blend(x, y, {0, 0, 0}, 0.55 * shadow);
            }
            // Scale around the skirt: eleven ticks over 300 degrees.
            if (d > SKIRT + 2 && d < SKIRT + 6) {
                for (int t = 0; t <= 10; ++t) {
                    double a = (120 + t * 30) * PI / 180;
                    double diff = fabs(remainder(angle - a, 2 * PI));
                    if (diff * d < 0.9) {
                        Blend(x, y, {205, 195, 170}, 0.85);
                    }
                }
            }
            // Skirt: dark ring with a lit rim.
            double onSkirt = 1 - Smooth(SKIRT - 0.5, SKIRT + 0.5, d);
            double rim = 0.5 + 0.5 * cos(angle + 2.2);
            Blend(x, y, {24 + 40 * rim, 25 + 40 * rim, 28 + 42 * rim}, onSkirt);
            // Cap: a dome lit from the upper left, ridged at its edge.
            double onCap = 1 - Smooth(R - 0.5, R + 0.5, d);
            if (onCap > 0) {
                double nx = dx / R, ny = dy / R;
                double nz = sqrt(Clamp(1 - nx * nx - ny * ny, 0, 1)) * 1.8;
                double len = sqrt(nx * nx + ny * ny + nz * nz);
                nx /= len, ny /= len, nz /= len;
                const double lx = -0.45, ly = -0.55, lz = 0.70;
                double diffuse = Clamp(nx * lx + ny * ly + nz * lz, 0, 1);
                double hz = nz * 2 * (nx * lx + ny * ly + nz * lz) - lz;  // reflected z
                double glint = pow(Clamp(hz, 0, 1), 30);
                double ridge = d > R - 5 ? 0.12 * cos(angle * 40) : 0;
                double v = 0.18 + 0.55 * diffuse + ridge;
                Colour cap = {50 * v + 230 * glint, 50 * v + 230 * glint, 56 * v + 235 * glint};
                Blend(x, y, cap, onCap);
                // Pointer line.
                double px = cos(pointer), py = sin(pointer);
                double along = dx * px + dy * py, across = fabs(-dx * py + dy * px);
                if (along > 4 && along < R - 3 && across < 1.3) {
                    Blend(x, y, {235, 225, 200}, 0.9 * onCap * (1.3 - across));
                }
            }
        }
    }
}

// A 5 x 7 pixel font for the few capitals and digits of the labels.
struct Glyph {
    char c;
    const char* rows[7];
};
const Glyph GLYPHS[] = {
    {'A', {"01110", "10001", "10001", "11111", "10001", "10001", "10001"}},
    {'C', {"01110", "10001", "10000", "10000", "10000", "10001", "01110"}},
    {'D', {"11110", "10001", "10001", "10001", "10001", "10001", "11110"}},
    {'E', {"11111", "10000", "10000", "11110", "10000", "10000", "11111"}},
    {'F', {"11111", "10000", "10000", "11110", "10000", "10000", "10000"}},
    {'G', {"01110", "10001", "10000", "10111", "10001", "10001", "01111"}},
    {'H', {"10001", "10001", "10001", "11111", "10001", "10001", "10001"}},
    {'I', {"01110", "00100", "00100", "00100", "00100", "00100", "01110"}},
    {'L', {"10000", "10000", "10000", "10000", "10000", "10000", "11111"}},
    {'M', {"10001", "11011", "10101", "10101", "10001", "10001", "10001"}},
    {'N', {"10001", "11001", "10101", "10011", "10001", "10001", "10001"}},
    {'O', {"01110", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'P', {"11110", "10001", "10001", "11110", "10000", "10000", "10000"}},
    {'R', {"11110", "10001", "10001", "11110", "10100", "10010", "10001"}},
    {'S', {"01111", "10000", "10000", "01110", "00001", "00001", "11110"}},
    {'T', {"11111", "00100", "00100", "00100", "00100", "00100", "00100"}},
    {'U', {"10001", "10001", "10001", "10001", "10001", "10001", "01110"}},
    {'W', {"10001", "10001", "10001", "10101", "10101", "10101", "01010"}},
    {'X', {"10001", "10001", "01010", "00100", "01010", "10001", "10001"}},
    {'Y', {"10001", "10001", "01010", "00100", "00100", "00100", "00100"}},
    {'1', {"00100", "01100", "00100", "00100", "00100", "00100", "01110"}},
    {'2', {"01110", "10001", "00001", "00010", "00100", "01000", "11111"}},
    {'-', {"00000", "00000", "00000", "11111", "00000", "00000", "00000"}},
    {' ', {"00000", "00000", "00000", "00000", "00000", "00000", "00000"}},
};

// Writes `text` centred on (cx, top), each font pixel `scale` pixels wide.
void DrawLabel(const char* text, double cx, int top, int scale, Colour ink) {
    int count = (int)strlen(text);
    int width = count * 6 * scale - scale;
    int left = (int)(cx - width / 2.0);
    for (int i = 0; i < count; ++i) {
        for (const Glyph& glyph : GLYPHS) {
            if (glyph.c != text[i]) {
                continue;
            }
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (glyph.rows[row][col] != '1') {
                        continue;
                    }
                    for (int sy = 0; sy < scale; ++sy) {
                        for (int sx = 0; sx < scale; ++sx) {
                            int x = left + (i * 6 + col) * scale + sx;
                            int y = top + row * scale + sy;
                            Blend(x + 1, y + 1, {0, 0, 0}, 0.6);  // engraved edge
                            Blend(x, y, ink, 0.95);
                        }
                    }
                }
            }
        }
    }
}

void DrawLed(double cx, double cy, Colour c) {
    for (int y = (int)cy - 12; y <= (int)cy + 12; ++y) {
        for (int x = (int)cx - 12; x <= (int)cx + 12; ++x) {
            double d = hypot(x - cx, y - cy);
            Blend(x, y, {10, 8, 6}, 1 - Smooth(3.5, 4.5, d));
            double lit = 1 - Smooth(2.2, 3.2, d);
            Blend(x, y, c, lit);
            AddLight(x, y, c, 0.25 * exp(-d * d / 40) * (1 - lit));
            if (d < 1.2) {
                Blend(x, y, {255, 240, 220}, 0.7);
            }
        }
    }
}

void DrawConsole() {
    DrawPanel();
    const double screws[][2] = {{14, 12}, {486, 12}, {14, 488}, {486, 488}};
    for (const auto& s : screws) {
        DrawScrew(s[0], s[1]);
    }
    DrawScreen();

    struct Knob {
        double x, y, pointer;
        const char* label;
    };
    const Knob knobs[] = {
        {48, 92, -2.4, "GAIN"},   {48, 212, -1.2, "FOCUS"}, {48, 332, 0.4, "SWEEP"},
        {455, 92, -0.6, "RANGE"}, {455, 212, 2.2, "TUNE"},  {455, 332, -2.0, "TRIG"},
        {128, 430, 1.0, "GRID"},  {372, 430, -1.6, "POWER"},
    };
    const Colour ink = {212, 200, 168};
    for (const Knob& k : knobs) {
        DrawKnob(k.x, k.y, k.pointer);
        DrawLabel(k.label, k.x, (int)k.y + 34, 2, ink);
    }
    DrawLabel("CH-1  X-Y", SCREEN_X, 404, 2, ink);
    DrawLabel("RANGE SCOPE", SCREEN_X, 448, 2, {180, 150, 90});
    DrawLed(410, 452, {255, 60, 20});
    DrawLed(90, 452, {255, 150, 20});
    DrawLed(455, 40, {255, 150, 20});
}

bool WriteBitmap(const char* path) {
    const int ROW = SIZE * 3;  // 1,500 bytes: a multiple of 4, so no padding
    uint8_t header[54];
    memset(header, 0, sizeof header);
    auto put16 = [&](int at, uint32_t v) {
        header[at] = v & 0xFF;
        header[at + 1] = (v >> 8) & 0xFF;
    };
    auto put32 = [&](int at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, 54 + ROW * SIZE);
    put32(10, 54);
    put32(14, 40);
    put32(18, SIZE);
    put32(22, SIZE);  // positive: rows bottom-up
    put16(26, 1);
    put16(28, 24);
    put32(30, 0);  // BI_RGB
    put32(34, ROW * SIZE);
    put32(38, 4724);
    put32(42, 4724);
    FILE* file = fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = fwrite(header, 1, sizeof header, file) == sizeof header;
    static uint8_t row[ROW];
    for (int y = SIZE - 1; y >= 0 && ok; --y) {
        for (int x = 0; x < SIZE; ++x) {
            const Colour& c = Picture[y][x];
            row[x * 3] = (uint8_t)Clamp(lround(c.b), 0, 255);
            row[x * 3 + 1] = (uint8_t)Clamp(lround(c.g), 0, 255);
            row[x * 3 + 2] = (uint8_t)Clamp(lround(c.r), 0, 255);
        }
        ok = fwrite(row, 1, ROW, file) == (size_t)ROW;
    }
    return fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.bmp\n", argv[0]);
        return 2;
    }
    DrawConsole();
    if (!WriteBitmap(argv[1])) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
