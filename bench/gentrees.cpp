// gentrees: makes a game-like pair of DATA trees for the benchmark.
//
//   gentrees [--seed N] [--files N] [--scale F] [--flat] [--mix C,N] [--folder-files N] OUT_DIR
//   gentrees [--seed N] [--files N] [--scale F] [--flat] [--mix C,N] [--folder-files N] --print-params
//
// Creates OUT_DIR/original and OUT_DIR/modded. The modded tree is a
// byte-identical copy of the original (real copies, no links) except for
// about 3% changed files (a flipped byte anywhere, a flipped byte in the
// last 1 MiB chunk, bytes appended, bytes cut) and about 1% new files, a
// few of them in new folders. Writes OUT_DIR/expected.txt ("A path" for a
// new file, "M path" for a changed one, byte-order sorted) and, last of
// all, OUT_DIR/params.txt, which marks a complete generation (the line that
// --print-params prints without generating anything).
//
// --flat makes the shape of a large loose-file DATA tree instead, for the
// memory benchmark: exactly 3 levels of folders with 40 files each, file
// names of about 50 characters, small files (256 bytes to 4 KiB before
// --scale), 1% changed and 1% new.
//
// --mix C,N sets the share of changed and of new files, in files per
// thousand of the original tree, instead: `--mix 350,116` is the mix of two
// releases of a real game's data (3,434 original files, 1,202 of them
// changed, 400 new), where equal pairs are only about 58% of the work.
//
// --folder-files N sets how many files the deepest folders hold on average
// (default 14; the folders on the way to them come on top): fewer folders
// for the same files, where the listing's share of a job's calls is
// smaller.
//
// Everything follows from the seed: the generator uses its own PRNG and
// integer arithmetic only (no std distributions, no libm), so the same
// arguments give the same trees with any compiler or library.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

const uint64_t KiB = 1024;
const uint64_t MiB = 1024 * KiB;
const size_t CHUNK = 1 << 20;        // write size, and the compare chunk of the tool
const size_t BLOCK_WORDS = 8192;     // 64 KiB random block

// ---- PRNG ----------------------------------------------------------------

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t Mix(uint64_t a, uint64_t b) {
    uint64_t s = a ^ (b * 0xD1342543DE82EF95ull);
    return SplitMix(s);
}

struct Rng {  // xoshiro256**
    uint64_t s[4];
    explicit Rng(uint64_t seed) {
        for (auto& w : s) w = SplitMix(seed);
    }
    static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t Next() {
        uint64_t result = Rotl(s[1] * 5, 7) * 9;
        uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = Rotl(s[3], 45);
        return result;
    }
    // 0 .. n-1 (n > 0), by multiply-shift: deterministic, no division bias worth noting.
    uint64_t Below(uint64_t n) { return (uint64_t)(((unsigned __int128)Next() * n) >> 64); }
    uint64_t Between(uint64_t lo, uint64_t hi) { return lo + Below(hi - lo + 1); }  // inclusive
    bool Chance(uint32_t perMille) { return Below(1000) < perMille; }
    // Piecewise log-uniform in [2^loExp, 2^hiExp): an octave at random, then uniform inside.
    uint64_t LogUniform(int loExp, int hiExp) {
        int octave = loExp + (int)Below((uint64_t)(hiExp - loExp));
        uint64_t base = 1ull << octave;
        return base + Below(base);
    }
    template <class T>
    const T& Pick(const std::vector<T>& v) {
        return v[Below(v.size())];
    }
};

// ---- names -----------------------------------------------------------------

struct Category {
    const char* name;
    unsigned weight;
    std::vector<const char*> extensions;
    bool bulky;  // may hold the big files (textures, meshes, audio, video)
};

const std::vector<Category> CATEGORIES = {
    {"textures", 30, {".dds", ".dds", ".dds", ".png"}, true},
    {"meshes", 25, {".nif", ".nif", ".nif", ".tri", ".kf", ".hkx"}, true},
    {"sounds", 12, {".wav", ".xwm", ".fuz", ".lip"}, true},
    {"music", 2, {".xwm", ".wav"}, true},
    {"scripts", 8, {".pex", ".psc", ".txt"}, false},
    {"interface", 4, {".swf", ".txt", ".xml"}, false},
    {"strings", 1, {".strings", ".dlstrings", ".ilstrings"}, false},
    {"shaders", 2, {".fxp", ".hlsl"}, false},
    {"video", 1, {".bik"}, true},
    {"materials", 5, {".bgsm", ".bgem"}, false},
    {"lodsettings", 1, {".lod", ".txt"}, false},
    {"seq", 1, {".seq"}, false},
    {"grass", 2, {".gid", ".cgid"}, false},
    {"facegendata", 6, {".nif", ".dds"}, true},
};

const std::vector<const char*> LEVEL1 = {
    "architecture", "actors", "armor", "weapons", "clutter", "dungeons", "landscape", "effects",
    "creatures", "furniture", "plants", "characters", "magic", "terrain", "lod", "sky",
};
const std::vector<const char*> LEVEL2 = {
    "nordic", "imperial", "elven", "dwarven", "common", "orcish", "ancient", "daedric",
    "farmhouse", "castle", "cave", "ruins", "town", "mine", "shack", "temple",
    "draugr", "wolf", "bear", "spider", "dragon", "human", "male", "female",
};
const std::vector<const char*> LEVEL3 = {
    "interior", "exterior", "props", "doors", "walls", "floors", "roofs", "stairs",
    "banners", "barrels", "crates", "candles", "chairs", "tables", "beds", "rugs",
    "helmet", "gauntlets", "boots", "cuirass", "shield", "sword", "bow", "staff",
    "idle", "combat", "dialogue", "ambient", "fx", "lights",
};
const std::vector<const char*> SYLLABLES = {
    "ka", "dor", "vel", "un", "mar", "tis", "ro", "sen", "gal", "thu", "bri", "nor",
    "el", "fen", "os", "ria", "kh", "ar", "ven", "lok", "mu", "dra", "gor", "ith",
    "sa", "bel", "rin", "tor", "ash", "wyn", "ul", "ker",
};
const std::vector<const char*> SUFFIXES = {"", "", "", "_d", "_n", "_s", "_m", "_g", "_01", "_02", "_lod", "_1st"};

std::string Word(Rng& rng, int minSyl, int maxSyl) {
    std::string w;
    int n = (int)rng.Between((uint64_t)minSyl, (uint64_t)maxSyl);
    for (int i = 0; i < n; ++i) w += rng.Pick(SYLLABLES);
    return w;
}

const Category& PickCategory(Rng& rng) {
    unsigned total = 0;
    for (const auto& c : CATEGORIES) total += c.weight;
    uint64_t r = rng.Below(total);
    for (const auto& c : CATEGORIES) {
        if (r < c.weight) return c;
        r -= c.weight;
    }
    return CATEGORIES[0];
}

// A folder path of `depth` components (2..6) below a category.
std::string FolderPath(Rng& rng, const Category& category, int depth) {
    std::string path = category.name;
    for (int level = 2; level <= depth; ++level) {
        path += '/';
        if (level == 2) path += rng.Pick(LEVEL1);
        else if (level == 3) path += rng.Pick(LEVEL2);
        else if (level == 4) path += rng.Pick(LEVEL3);
        else if (rng.Chance(500)) {
            char set[16];
            snprintf(set, sizeof set, "set%02u", (unsigned)rng.Below(20));
            path += set;
        } else {
            path += Word(rng, 2, 3);
        }
    }
    return path;
}

// ---- the plan --------------------------------------------------------------

enum Change { NONE, FLIP_ANYWHERE, FLIP_LAST_CHUNK, APPEND, CUT, NEW_FILE };

struct FilePlan {
    std::string relative;  // below the tree root, '/'-separated
    uint64_t size;         // size in the original (for a new file: in the modded tree)
    uint64_t key;          // content variation
    Change change;
    uint64_t position;     // FLIP_*: byte flipped; APPEND/CUT: bytes added/cut
    uint8_t flipMask;      // FLIP_*: the byte is XORed with this (non-zero)
    int folder;            // index into folders
};

// Bump when a change to this file changes the trees it makes: run.sh
// regenerates trees whose params.txt does not match.
const int GENERATOR_VERSION = 2;

struct Options {
    bool printParams = false;
    uint64_t seed = 1;
    uint64_t files = 20000;
    double scale = 1.0;
    bool flat = false;
    uint64_t changedPerMille = 0;  // 0 with newPerMille 0: the shape's own mix
    uint64_t newPerMille = 0;
    uint64_t folderFiles = 14;
    const char* out = nullptr;
};

uint64_t Scaled(uint64_t size, double scale) {
    double s = (double)size * scale + 0.5;
    uint64_t r = s < 1.0 ? 1 : (uint64_t)s;
    return r;
}

// Size classes: most files 1 KiB..256 KiB, about 0.4% 1..16 MiB, about
// 0.02% 32..64 MiB: about 1.5 GiB for 20,000 files.
enum SizeClass { SMALL, MEDIUM, BIG };

uint64_t DrawSize(Rng& rng, SizeClass sizeClass, double scale) {
    uint64_t size;
    switch (sizeClass) {
    case BIG: size = rng.Between(32 * MiB, 64 * MiB); break;
    case MEDIUM: size = rng.LogUniform(20, 24); break;
    default: size = rng.LogUniform(10, 18); break;
    }
    return Scaled(size, scale);
}

uint64_t DrawFlatSize(Rng& rng, double scale) {
    uint64_t size = rng.LogUniform(8, 12);
    return Scaled(size, scale);
}

std::string UniqueName(Rng& rng, const Category& category, std::unordered_set<std::string>& taken,
                       const std::string& folder) {
    for (int attempt = 0;; ++attempt) {
        std::string name = Word(rng, 2, 4) + rng.Pick(SUFFIXES);
        if (attempt > 3) name += "_" + std::to_string(rng.Below(100000));
        name += rng.Pick(category.extensions);
        std::string full = folder + "/" + name;
        if (taken.insert(full).second) return full;
    }
}

// A --flat file name of about 50 characters: words joined by '_', then a
// number that makes it unique (`unique` within its folder, or over the
// whole tree for a new file) and the category's extension.
std::string FlatName(Rng& rng, const Category& category, const char* tag, uint64_t unique) {
    std::string name;
    size_t wanted = 36 + (size_t)rng.Below(10);
    while (name.size() < wanted) {
        if (!name.empty()) name += '_';
        name += Word(rng, 2, 4);
    }
    char number[32];
    snprintf(number, sizeof number, "_%s%02llu", tag, (unsigned long long)unique);
    return name + number + rng.Pick(category.extensions);
}

// ---- writing ---------------------------------------------------------------

struct Writer {
    uint64_t block[BLOCK_WORDS];
    std::vector<uint64_t> buffer = std::vector<uint64_t>(CHUNK / 8 + 1);
    uint64_t seed;

    explicit Writer(uint64_t s) : seed(s) {
        Rng rng(Mix(s, 0xB10C));
        for (auto& w : block) w = rng.Next();
    }

    // Fills `buffer` with chunk `index` of the file with `key`: the random
    // block rotated and XORed with a per-chunk word.
    void Fill(uint64_t key, uint64_t index) {
        uint64_t h = Mix(key, index);
        size_t start = (size_t)(h & (BLOCK_WORDS - 1));
        uint64_t x = h | 1;
        size_t words = CHUNK / 8;
        for (size_t i = 0; i < words; ++i) buffer[i] = block[(start + i) & (BLOCK_WORDS - 1)] ^ x;
    }
};

bool WriteAll(int fd, const void* data, size_t size, const std::string& path) {
    const char* at = (const char*)data;
    while (size > 0) {
        ssize_t n = write(fd, at, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            fprintf(stderr, "gentrees: %s: %s\n", path.c_str(), strerror(errno));
            return false;
        }
        at += n;
        size -= (size_t)n;
    }
    return true;
}

int Create(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) fprintf(stderr, "gentrees: %s: %s\n", path.c_str(), strerror(errno));
    return fd;
}

bool MakeFolders(const std::string& path) {
    std::string partial;
    size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        partial = path.substr(0, at);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            fprintf(stderr, "gentrees: %s: %s\n", partial.c_str(), strerror(errno));
            return false;
        }
    }
    return true;
}

// Writes one file of the pair: the original (unless new) and the modded
// version, from the same generated chunks.
bool WritePair(Writer& writer, const FilePlan& plan, const std::string& originalRoot,
               const std::string& moddedRoot, uint64_t* originalBytes, uint64_t* moddedBytes) {
    int original = -1;
    std::string originalPath = originalRoot + "/" + plan.relative;
    std::string moddedPath = moddedRoot + "/" + plan.relative;
    if (plan.change != NEW_FILE) {
        original = Create(originalPath);
        if (original < 0) return false;
    }
    int modded = Create(moddedPath);
    if (modded < 0) {
        if (original >= 0) close(original);
        return false;
    }
    uint64_t moddedSize = plan.size;
    if (plan.change == APPEND) moddedSize += plan.position;
    if (plan.change == CUT) moddedSize -= plan.position;

    bool ok = true;
    unsigned char* bytes = (unsigned char*)writer.buffer.data();
    // Enough chunks for the longer of the two versions.
    uint64_t longest = std::max(plan.size, moddedSize);
    for (uint64_t offset = 0, index = 0; ok && offset < longest; offset += CHUNK, ++index) {
        writer.Fill(plan.key, index);
        size_t count = (size_t)std::min<uint64_t>(CHUNK, longest - offset);
        if (original >= 0 && offset < plan.size) {
            size_t n = (size_t)std::min<uint64_t>(count, plan.size - offset);
            ok = WriteAll(original, bytes, n, originalPath);
            *originalBytes += n;
        }
        if (ok && offset < moddedSize) {
            bool flip = (plan.change == FLIP_ANYWHERE || plan.change == FLIP_LAST_CHUNK) &&
                        plan.position >= offset && plan.position < offset + count;
            if (flip) bytes[plan.position - offset] ^= plan.flipMask;
            size_t n = (size_t)std::min<uint64_t>(count, moddedSize - offset);
            ok = WriteAll(modded, bytes, n, moddedPath);
            *moddedBytes += n;
        }
    }
    if (original >= 0 && close(original) != 0) ok = false;
    if (close(modded) != 0) ok = false;
    return ok;
}

int Usage(const char* why) {
    if (why) fprintf(stderr, "gentrees: %s\n", why);
    fprintf(stderr, "usage: gentrees [--seed N] [--files N] [--scale F] [--flat] [--mix C,N] [--folder-files N] OUT_DIR\n"
                    "       gentrees [--seed N] [--files N] [--scale F] [--flat] [--mix C,N] [--folder-files N] --print-params\n");
    return 2;
}

bool ParseUnsigned(const char* text, uint64_t* value) {
    char* end;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 10);
    if (errno || end == text || *end || text[0] == '-') return false;
    *value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(arg, "--seed") == 0 && hasValue) {
            if (!ParseUnsigned(argv[++i], &options.seed)) return Usage("bad --seed");
        } else if (strcmp(arg, "--files") == 0 && hasValue) {
            if (!ParseUnsigned(argv[++i], &options.files) || options.files < 10 || options.files > 10000000)
                return Usage("--files must be 10 .. 10000000");
        } else if (strcmp(arg, "--scale") == 0 && hasValue) {
            char* end;
            options.scale = strtod(argv[++i], &end);
            if (*end || !(options.scale > 0) || options.scale > 100) return Usage("--scale must be > 0 and <= 100");
        } else if (strcmp(arg, "--flat") == 0) {
            options.flat = true;
        } else if (strcmp(arg, "--mix") == 0 && hasValue) {
            char changed[32];
            const char* value = argv[++i];
            const char* comma = strchr(value, ',');
            if (!comma || (size_t)(comma - value) >= sizeof changed) return Usage("--mix wants CHANGED,NEW per mille");
            memcpy(changed, value, comma - value);
            changed[comma - value] = 0;
            if (!ParseUnsigned(changed, &options.changedPerMille) || !ParseUnsigned(comma + 1, &options.newPerMille) ||
                options.changedPerMille < 1 || options.changedPerMille > 1000 || options.newPerMille < 1 ||
                options.newPerMille > 1000)
                return Usage("--mix wants CHANGED,NEW per mille, each 1 .. 1000");
        } else if (strcmp(arg, "--folder-files") == 0 && hasValue) {
            if (!ParseUnsigned(argv[++i], &options.folderFiles) || options.folderFiles < 1 || options.folderFiles > 100000)
                return Usage("--folder-files must be 1 .. 100000");
        } else if (strcmp(arg, "--print-params") == 0) {
            options.printParams = true;
        } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            Usage(nullptr);
            return 0;
        } else if (arg[0] == '-' && arg[1]) {
            return Usage("unknown option or missing value");
        } else if (!options.out) {
            options.out = arg;
        } else {
            return Usage("one output folder only");
        }
    }
    char mix[48] = "";
    if (options.changedPerMille)
        snprintf(mix, sizeof mix, " mix=%llu,%llu", (unsigned long long)options.changedPerMille,
                 (unsigned long long)options.newPerMille);
    char shape[40] = "";
    if (options.folderFiles != 14 && !options.flat)
        snprintf(shape, sizeof shape, " folder-files=%llu", (unsigned long long)options.folderFiles);
    char paramsLine[240];
    snprintf(paramsLine, sizeof paramsLine, "generator=%d seed=%llu files=%llu scale=%.6g%s%s%s", GENERATOR_VERSION,
             (unsigned long long)options.seed, (unsigned long long)options.files, options.scale,
             options.flat ? " shape=flat" : "", mix, shape);
    if (options.printParams) {
        printf("%s\n", paramsLine);
        return 0;
    }
    if (!options.out) return Usage("no output folder given");

    std::string out = options.out;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    std::string originalRoot = out + "/original";
    std::string moddedRoot = out + "/modded";
    struct stat st;
    if (stat(originalRoot.c_str(), &st) == 0 || stat(moddedRoot.c_str(), &st) == 0) {
        fprintf(stderr, "gentrees: %s already holds a tree; remove it first\n", out.c_str());
        return 2;
    }

    Rng rng(options.seed);
    const uint64_t files = options.files;

    // Folders: 2 to 6 deep, below a weighted category; about 14 files each
    // (--folder-files).
    // Flat: 3 deep, 40 files each.
    std::vector<std::string> folders;
    std::vector<const Category*> folderCategory;
    if (options.flat) {
        std::unordered_set<std::string> seen;
        uint64_t wanted = std::max<uint64_t>(1, (files + 39) / 40);
        while (folders.size() < wanted) {
            const Category& category = PickCategory(rng);
            std::string path = std::string(category.name) + "/" + rng.Pick(LEVEL1) + "/" + Word(rng, 2, 4);
            if (seen.insert(path).second) {
                folders.push_back(path);
                folderCategory.push_back(&category);
            }
        }
    } else {
        std::unordered_set<std::string> seen;
        uint64_t wanted = std::max<uint64_t>(4, files / options.folderFiles);
        for (uint64_t attempts = 0; folders.size() < wanted && attempts < wanted * 20; ++attempts) {
            const Category& category = PickCategory(rng);
            int depth = (int)rng.Between(2, 6);
            std::string path = FolderPath(rng, category, depth);
            if (seen.insert(path).second) {
                folders.push_back(path);
                folderCategory.push_back(&category);
            }
        }
    }

    // Files of the original tree.
    std::vector<FilePlan> plans;
    plans.reserve(files + files / 50 + 16);
    std::unordered_set<std::string> taken;
    for (uint64_t i = 0; i < files; ++i) {
        FilePlan plan = {};
        if (options.flat) {
            plan.folder = (int)(i / 40);
            plan.relative = folders[plan.folder] + "/" + FlatName(rng, *folderCategory[plan.folder], "", i % 40);
        } else {
            plan.folder = (int)rng.Below(folders.size());
            plan.relative = UniqueName(rng, *folderCategory[plan.folder], taken, folders[plan.folder]);
        }
        plan.key = Mix(options.seed, i + 1);
        plan.change = NONE;
        plans.push_back(plan);
    }
    // Size classes at random places among the bulky categories' files:
    // files/5000 big ones (at least one once there are 100 files), files/250
    // medium ones, the rest small.
    std::vector<uint64_t> order(files);
    for (uint64_t i = 0; i < files; ++i) order[i] = i;
    for (uint64_t i = files - 1; i > 0; --i) std::swap(order[i], order[rng.Below(i + 1)]);
    uint64_t bigCount = files >= 100 ? std::max<uint64_t>(1, files / 5000) : 0;
    uint64_t mediumCount = files / 250;
    std::vector<SizeClass> sizeClass(files, SMALL);
    uint64_t assigned = 0;
    for (uint64_t index : order) {
        if (assigned == bigCount + mediumCount) break;
        if (!folderCategory[plans[index].folder]->bulky) continue;
        sizeClass[index] = assigned < bigCount ? BIG : MEDIUM;
        ++assigned;
    }
    for (uint64_t i = 0; i < files; ++i)
        plans[i].size = options.flat ? DrawFlatSize(rng, options.scale) : DrawSize(rng, sizeClass[i], options.scale);

    // Changed files: about 3%, the four kinds in turn. One big and one
    // medium file are always among them (a late difference in a big file
    // is the costly case for a comparer that stops early).
    uint64_t changedCount = options.changedPerMille
                                ? std::max<uint64_t>(4, std::min(files, (files * options.changedPerMille + 500) / 1000))
                                : std::max<uint64_t>(4, (files * (options.flat ? 1 : 3) + 50) / 100);
    for (uint64_t i = files - 1; i > 0; --i) std::swap(order[i], order[rng.Below(i + 1)]);
    std::vector<uint64_t> changed(order.begin(), order.begin() + changedCount);
    auto ensureClass = [&](SizeClass wanted, size_t slot) {
        for (uint64_t index : changed)
            if (sizeClass[index] == wanted) return;
        for (uint64_t index : order)
            if (sizeClass[index] == wanted) {
                changed[slot] = index;
                return;
            }
    };
    ensureClass(BIG, 1);     // slot 1 gets FLIP_LAST_CHUNK below
    ensureClass(MEDIUM, 0);  // slot 0 gets FLIP_ANYWHERE
    const Change kinds[4] = {FLIP_ANYWHERE, FLIP_LAST_CHUNK, APPEND, CUT};
    for (size_t i = 0; i < changed.size(); ++i) {
        FilePlan& plan = plans[changed[i]];
        Change kind = kinds[i % 4];
        if (kind == CUT && plan.size < 2) kind = FLIP_ANYWHERE;
        plan.change = kind;
        switch (kind) {
        case FLIP_ANYWHERE:
            plan.position = rng.Below(plan.size);
            break;
        case FLIP_LAST_CHUNK: {
            uint64_t lastChunk = (plan.size - 1) / CHUNK * CHUNK;
            plan.position = lastChunk + rng.Below(plan.size - lastChunk);
            break;
        }
        case APPEND:
            plan.position = rng.Between(1, 4096);
            break;
        case CUT:
            plan.position = rng.Between(1, std::min<uint64_t>(plan.size - 1, 4096));
            break;
        default:
            break;
        }
        plan.flipMask = (uint8_t)rng.Between(1, 255);
    }

    // New files: about 1%; about one in ten goes to one of a few new folders
    // (below existing folders, and one new category).
    uint64_t newCount = options.newPerMille ? std::max<uint64_t>(2, (files * options.newPerMille + 500) / 1000)
                                            : std::max<uint64_t>(2, files / 100);
    std::vector<std::string> newFolders;
    std::vector<const Category*> newFolderCategory;
    uint64_t newFolderTarget = std::max<uint64_t>(1, std::min<uint64_t>(5, newCount / 40 + 1));
    for (uint64_t i = 0; i < newFolderTarget; ++i) {
        int parent = (int)rng.Below(folders.size());
        newFolders.push_back(folders[parent] + "/kessmod_" + Word(rng, 2, 3));
        newFolderCategory.push_back(folderCategory[parent]);
    }
    newFolders.push_back("kessmod/meshes/" + Word(rng, 2, 3));
    newFolderCategory.push_back(&CATEGORIES[1]);
    uint64_t inNewFolders = 0;
    for (uint64_t i = 0; i < newCount; ++i) {
        FilePlan plan = {};
        plan.change = NEW_FILE;
        plan.key = Mix(options.seed ^ 0x4E4557, i + 1);
        bool newFolder = i < newFolders.size() || rng.Chance(100);
        if (newFolder) {
            size_t which = i < newFolders.size() ? i : rng.Below(newFolders.size());
            plan.folder = -1;
            plan.relative = options.flat
                                ? newFolders[which] + "/" + FlatName(rng, *newFolderCategory[which], "new", i)
                                : UniqueName(rng, *newFolderCategory[which], taken, newFolders[which]);
            ++inNewFolders;
        } else {
            plan.folder = (int)rng.Below(folders.size());
            plan.relative = options.flat
                                ? folders[plan.folder] + "/" + FlatName(rng, *folderCategory[plan.folder], "new", i)
                                : UniqueName(rng, *folderCategory[plan.folder], taken, folders[plan.folder]);
        }
        if (options.flat) plan.size = DrawFlatSize(rng, options.scale);
        else plan.size = DrawSize(rng, i == newFolders.size() && files >= 1000 ? MEDIUM : SMALL, options.scale);
        plans.push_back(plan);
    }

    // Write, folder by folder.
    if (!MakeFolders(originalRoot) || !MakeFolders(moddedRoot)) return 1;
    std::sort(plans.begin(), plans.end(),
              [](const FilePlan& a, const FilePlan& b) { return a.relative < b.relative; });
    Writer* writer = new Writer(options.seed);
    uint64_t originalBytes = 0, moddedBytes = 0, originalFiles = 0, moddedFiles = 0, changedFiles = 0;
    std::string lastFolder;
    std::vector<std::string> expected;
    for (const FilePlan& plan : plans) {
        std::string folder = plan.relative.substr(0, plan.relative.rfind('/'));
        if (folder != lastFolder) {
            if (plan.change != NEW_FILE || plan.folder >= 0)
                if (!MakeFolders(originalRoot + "/" + folder)) return 1;
            if (!MakeFolders(moddedRoot + "/" + folder)) return 1;
            lastFolder = folder;
        }
        if (!WritePair(*writer, plan, originalRoot, moddedRoot, &originalBytes, &moddedBytes)) return 1;
        ++moddedFiles;
        if (plan.change != NEW_FILE) ++originalFiles;
        if (plan.change == NEW_FILE) expected.push_back("A " + plan.relative);
        else if (plan.change != NONE) {
            expected.push_back("M " + plan.relative);
            ++changedFiles;
        }
    }
    delete writer;

    std::sort(expected.begin(), expected.end());
    std::string expectedPath = out + "/expected.txt";
    FILE* list = fopen(expectedPath.c_str(), "w");
    if (!list) {
        fprintf(stderr, "gentrees: %s: %s\n", expectedPath.c_str(), strerror(errno));
        return 1;
    }
    for (const std::string& line : expected) fprintf(list, "%s\n", line.c_str());
    if (fclose(list) != 0) return 1;

    std::string paramsPath = out + "/params.txt";
    FILE* params = fopen(paramsPath.c_str(), "w");
    if (!params) return 1;
    fprintf(params, "%s\n", paramsLine);
    if (fclose(params) != 0) return 1;

    printf("gentrees: original %llu files %llu bytes (%.2f GiB); modded %llu files %llu bytes; "
           "%llu changed, %llu new (%llu in new folders)\n",
           (unsigned long long)originalFiles, (unsigned long long)originalBytes,
           (double)originalBytes / (1024.0 * 1024 * 1024), (unsigned long long)moddedFiles,
           (unsigned long long)moddedBytes, (unsigned long long)changedFiles, (unsigned long long)newCount,
           (unsigned long long)inNewFolders);
    return 0;
}
