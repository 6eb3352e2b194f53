#include "persistence/preset_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "../support/as_unprivileged.h"

namespace skarnel {

void PrintTo(const MemoryPreset& p, std::ostream* os) {
    const GeneratorSettings& g = p.settings;
    *os << '{' << p.name << '|' << g.period << '|' << g.loop << g.channelMode << g.asLeft;
    for (const ChannelSettings& c : g.channels) {
        *os << '|' << c.amplitude << ',' << c.noiseFunction << ',' << c.on << c.modulationOn << ','
            << c.modPeriod << ',' << c.modDepth << ',' << c.modFunction << ',' << c.modPhase << ','
            << c.crestFactor << ',' << c.filterType << ' ' << c.frequency << ' ' << c.gain << ' '
            << c.q;
    }
    *os << '}';
}

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
// Each value of a record reached from the preset, so the documented layout
// below is typed in by hand rather than taken from the program's own table.
using Text = std::string& (*)(MemoryPreset&);
using Index = std::int32_t& (*)(MemoryPreset&);
using Flag = bool& (*)(MemoryPreset&);
// The channel mode: a byte of 1 means Mono, anything else Stereo.
struct Mode {
    std::int32_t& (*of)(MemoryPreset&);
};

#define PRESET(member)              \
    [](MemoryPreset & p) -> auto& { \
        return p.member;            \
    }
#define SETTING(member)             \
    [](MemoryPreset & p) -> auto& { \
        return p.settings.member;   \
    }
#define LEFT(member)                          \
    [](MemoryPreset & p) -> auto& {           \
        return p.settings.channels[0].member; \
    }
#define RIGHT(member)                         \
    [](MemoryPreset & p) -> auto& {           \
        return p.settings.channels[1].member; \
    }

// The record as documented, offsets typed in from the format description.
struct Field {
    std::size_t offset;
    std::variant<Text, Index, Flag, Mode> member;
};
const Field kRecord[] = {
    {0, Text{PRESET(name)}},
    {256, Text{SETTING(period)}},
    {512, Text{LEFT(amplitude)}},
    {768, Text{RIGHT(amplitude)}},
    {1024, Index{LEFT(noiseFunction)}},
    {1028, Index{RIGHT(noiseFunction)}},
    {1032, Flag{SETTING(loop)}},
    {1033, Mode{.of = SETTING(channelMode)}},
    {1034, Flag{LEFT(on)}},
    {1035, Flag{RIGHT(on)}},
    {1036, Flag{LEFT(modulationOn)}},
    {1037, Flag{RIGHT(modulationOn)}},
    {1038, Text{LEFT(modPeriod)}},
    {1294, Text{RIGHT(modPeriod)}},
    {1550, Text{LEFT(modDepth)}},
    {1806, Text{RIGHT(modDepth)}},
    {2064, Index{LEFT(modFunction)}},
    {2068, Index{RIGHT(modFunction)}},
    {2072, Text{LEFT(modPhase)}},
    {2328, Text{RIGHT(modPhase)}},
    {2584, Index{LEFT(crestFactor)}},
    {2588, Index{RIGHT(crestFactor)}},
    {2592, Flag{SETTING(asLeft)}},
    {2596, Index{LEFT(filterType)}},
    {2612, Index{RIGHT(filterType)}},
};
constexpr std::size_t kMarkOffset = 2062;
const std::pair<std::size_t, Text> kFilterSlots[] = {
    {2600, LEFT(frequency)},  {2604, LEFT(gain)},  {2608, LEFT(q)},
    {2616, RIGHT(frequency)}, {2620, RIGHT(gain)}, {2624, RIGHT(q)},
};

std::size_t RecordStart(std::size_t slot) {
    return 21 + 2628 * slot;
}
void PutI32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint32_t GetU32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::string GetText(const Bytes& b, std::size_t at) {
    return {b.begin() + at + 1, b.begin() + at + 1 + b[at]};
}

// A slot that differs from every value the tests load, with every flag set.
MemoryPreset Stale() {
    MemoryPreset p;
    for (const Field& f : kRecord) {
        if (auto* t = std::get_if<Text>(&f.member)) {
            (*t)(p) = "stale";
        } else if (auto* i = std::get_if<Index>(&f.member)) {
            (*i)(p) = 77;
        } else if (auto* m = std::get_if<Mode>(&f.member)) {
            m->of(p) = 77;
        } else {
            std::get<Flag>(f.member)(p) = true;
        }
    }
    for (const auto& [offset, member] : kFilterSlots) {
        member(p) = "stale";
    }
    return p;
}

// Filter values per slot as the tests write them, and the texts a reader makes
// of them. The second record gets no mark and the third an infinite value, so
// both read as the reset texts.
const float kFilterValues[4][6] = {
    {1234.5f, 0.707f, -6.f, 100000.f, 1e-5f, 0.f},
    {50.f, 3.f, 2.f, 60.f, 4.f, 5.f},
    {50.f, 3.f, 2.f, 60.f, 4.f, std::numeric_limits<float>::infinity()},
    {3.4028235e38f, -0.f, 1.f / 3, 123456789.f, 0.1f, 2.5f},
};
const char* const kFilterTexts[4][6] = {
    {"1234.5", "0.707", "-6", "100000", "1E-5", "0"},
    {"1000", "0", "1", "1000", "0", "1"},
    {"1000", "0", "1", "1000", "0", "1"},
    {"3.4028235E38", "0", "0.33333334", "123456790", "0.1", "2.5"},
};

// A complete file written byte by byte from the documented offsets, with
// garbage in the filler, the gaps and after each text, and what a reader must
// make of it.
struct HandBuilt {
    Bytes file = Bytes(10533, 0xA5);
    PresetSlots slots;
};
HandBuilt BuildByHand() {
    HandBuilt h;
    h.file[0] = 18;
    std::memcpy(&h.file[1], "WBQ Preset File V1", 18);
    const std::uint8_t flagBytes[] = {0, 1, 2, 0xFF};
    for (std::size_t s = 0; s < 4; ++s) {
        const std::size_t r = RecordStart(s);
        MemoryPreset& p = h.slots[s];
        int n = 0;
        for (const Field& f : kRecord) {
            ++n;
            const std::string tag = std::to_string(s) + "." + std::to_string(n);
            if (auto* t = std::get_if<Text>(&f.member)) {
                const std::string raw = tag + " Caf\xE9 \x80\x81\x9F";
                h.file[r + f.offset] = static_cast<std::uint8_t>(raw.size());
                std::memcpy(&h.file[r + f.offset + 1], raw.data(), raw.size());
                (*t)(p) = tag + " Caf\u00E9 \u20AC\u0081\u0178";
            } else if (auto* i = std::get_if<Index>(&f.member)) {
                const std::int32_t v = (s % 2 ? -1 : 1) * (n * 1000 + static_cast<int>(s));
                PutI32(h.file, r + f.offset, static_cast<std::uint32_t>(v));
                (*i)(p) = v;
            } else {
                const std::uint8_t byte = flagBytes[(n + s) % 4];
                h.file[r + f.offset] = byte;
                if (auto* m = std::get_if<Mode>(&f.member)) {
                    m->of(p) = byte == 1 ? kMono : kStereo;
                } else {
                    std::get<Flag>(f.member)(p) = byte != 0;
                }
            }
        }
        if (s != 1) {
            h.file[r + kMarkOffset] = 'F';
            h.file[r + kMarkOffset + 1] = 'V';
        }
        for (std::size_t k = 0; k < 6; ++k) {
            PutI32(h.file, r + kFilterSlots[k].first,
                   std::bit_cast<std::uint32_t>(kFilterValues[s][k]));
            kFilterSlots[k].second(p) = kFilterTexts[s][k];
        }
    }
    return h;
}

PresetSlots StaleSlots() {
    return {Stale(), Stale(), Stale(), Stale()};
}

// A fresh folder named after the running test.
fs::path TestFolder() {
    const fs::path folder = fs::path(SKARNEL_TEST_TMPDIR) / "presets" /
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}
std::vector<fs::path> Entries(const fs::path& folder) {
    return {fs::directory_iterator(folder), fs::directory_iterator()};
}

void ExpectReport(const std::string& message, const std::string& path, int error) {
    EXPECT_NE(message.find('"' + path + '"'), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(error)), std::string::npos) << message;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}
Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PresetFileLayout, ReadsEveryFieldFromItsDocumentedOffset) {
    const HandBuilt h = BuildByHand();
    PresetSlots slots = StaleSlots();
    DecodePresetFile(h.file, slots);
    for (std::size_t s = 0; s < 4; ++s) {
        EXPECT_EQ(slots[s], h.slots[s]) << "slot " << s + 1;
    }
}

TEST(PresetFileLayout, WritesEveryFieldAtItsDocumentedOffset) {
    const HandBuilt h = BuildByHand();
    PresetSlots slots = h.slots;
    // Texts the entries may hold that are not in the program's number format.
    slots[1].settings.channels[kLeft].frequency = "abc";  // unreadable: its reset value
    slots[1].settings.channels[kLeft].gain = "1,5";
    slots[1].settings.channels[kRight].q = "";
    const float written[4][6] = {
        {1234.5f, 0.707f, -6.f, 100000.f, 1e-5f, 0.f},
        {1000.f, 1.5f, 1.f, 1000.f, 0.f, 1.f},
        {1000.f, 0.f, 1.f, 1000.f, 0.f, 1.f},
        {3.4028235e38f, 0.f, 1.f / 3, 123456789.f, 0.1f, 2.5f},
    };

    const Bytes file = EncodePresetFile(slots);
    ASSERT_EQ(file.size(), 10533u);
    EXPECT_EQ(file[0], 18);
    EXPECT_EQ(std::string(file.begin() + 1, file.begin() + 19), "WBQ Preset File V1");
    for (std::size_t s = 0; s < 4; ++s) {
        const std::size_t r = RecordStart(s);
        for (const Field& f : kRecord) {
            const std::size_t at = r + f.offset;
            if (std::holds_alternative<Text>(f.member)) {
                EXPECT_EQ(GetText(file, at), GetText(h.file, at)) << s << " @" << f.offset;
            } else if (std::holds_alternative<Index>(f.member)) {
                EXPECT_EQ(GetU32(file, at), GetU32(h.file, at)) << s << " @" << f.offset;
            } else if (auto* m = std::get_if<Mode>(&f.member)) {
                EXPECT_EQ(file[at], m->of(slots[s]) == kMono ? 1 : 0) << s << " @" << f.offset;
            } else {
                EXPECT_EQ(file[at], std::get<Flag>(f.member)(slots[s]) ? 1 : 0)
                    << s << " @" << f.offset;
            }
        }
        const auto mark = file.begin() + static_cast<std::ptrdiff_t>(r + kMarkOffset);
        EXPECT_EQ(std::string(mark, mark + 2), "FV") << s;
        for (std::size_t k = 0; k < 6; ++k) {
            EXPECT_EQ(std::bit_cast<float>(GetU32(file, r + kFilterSlots[k].first)), written[s][k])
                << s << " @" << kFilterSlots[k].first;
        }
    }
}

TEST(PresetFile, SaveAndLoadKeepAllFourSlots) {
    const fs::path folder = TestFolder();
    const fs::path path = folder / "set.vlm";
    WriteFile(path, Bytes(50, 'x'));  // an older file that the save replaces
    PresetSlots saved = BuildByHand().slots;
    const char* const typed[6] = {"1234.5", "0,707", "-6", "100000", " 2.50 ", "abc"};
    const char* const loaded[5] = {"1234.5", "0.707", "-6", "100000", "2.5"};
    PresetSlots expected = saved;
    for (std::size_t s = 0; s < 4; ++s) {
        for (std::size_t k = 0; k < 6; ++k) {
            kFilterSlots[k].second(saved[s]) = typed[(k + s) % 6];
            kFilterSlots[k].second(expected[s]) =
                (k + s) % 6 == 5 ? kFilterTexts[1][k] : loaded[(k + s) % 6];  // 1: reset texts
        }
    }
    ASSERT_EQ(SavePresetFile(path.string(), saved), "");
    EXPECT_EQ(fs::file_size(path), 10533u);
    EXPECT_EQ(Entries(folder).size(), 1u);  // no temporary left behind

    PresetSlots slots = StaleSlots();
    ASSERT_EQ(LoadPresetFile(path.string(), slots), "");
    EXPECT_EQ(slots, expected);
    PresetSlots again = slots;
    ASSERT_EQ(LoadPresetFile(path.string(), again), "");
    EXPECT_EQ(again, slots);

    // Saving through a symbolic link replaces the file it points to.
    const fs::path link = folder / "link.vlm";
    fs::create_symlink(path.filename(), link);
    saved[0].name = "through the link";
    ASSERT_EQ(SavePresetFile(link.string(), saved), "");
    EXPECT_TRUE(fs::is_symlink(link));
    ASSERT_EQ(LoadPresetFile(path.string(), slots), "");
    EXPECT_EQ(slots[0].name, "through the link");
}

// The file a dangling link leads to is made where the link says, and the link
// stays; a device is written where it is and never replaced.
TEST(PresetFile, DanglingLinksAndDevicesAreWrittenInPlace) {
    const fs::path folder = TestFolder();
    const PresetSlots slots = BuildByHand().slots;
    const fs::path dangling = folder / "dangling.vlm";
    fs::create_symlink("made.vlm", dangling);
    ASSERT_EQ(SavePresetFile(dangling.string(), slots), "");
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(ReadFile(folder / "made.vlm"), EncodePresetFile(slots));
    EXPECT_EQ(Entries(folder).size(), 2u);

    // Unprivileged, so that a save that went for /dev/null's folder would fail
    // there instead of putting a file in the device's place.
    const fs::path device = folder / "null.vlm";
    fs::create_symlink("/dev/null", device);
    fs::permissions(folder, fs::perms::all);
    const std::optional<std::string> report =
        testing::AsUnprivileged([&] { return SavePresetFile(device.string(), slots); });
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_symlink(device));
    if (!report) {
        GTEST_SKIP() << "root cannot give up its rights here";
    }
    EXPECT_EQ(*report, "");
}

TEST(PresetFile, WithoutTheExactIdentificationNothingChanges) {
    const Bytes valid = EncodePresetFile(BuildByHand().slots);
    std::vector<Bytes> files;
    for (const char* id : {"wbq preset file v1", "WBQ Preset File v1", "WBQ Preset File V2"}) {
        files.push_back(valid);
        std::memcpy(&files.back()[1], id, 18);
    }
    files.push_back(valid);
    files.back()[0] = 19;  // the text followed by one more character
    files.back()[19] = ' ';
    files.push_back(valid);
    files.back()[0] = 17;
    files.emplace_back(valid.begin(), valid.begin() + 20);  // the header cut short
    files.emplace_back();
    for (std::size_t i = 0; i < files.size(); ++i) {
        PresetSlots slots = StaleSlots();
        DecodePresetFile(files[i], slots);
        EXPECT_EQ(slots, StaleSlots()) << "file " << i;
    }
}

TEST(PresetFile, TakesTheWholeRecordsAFileHolds) {
    const HandBuilt h = BuildByHand();
    const auto prefix = [&](std::size_t n) {
        return Bytes(h.file.begin(), h.file.begin() + static_cast<std::ptrdiff_t>(n));
    };
    PresetSlots slots = StaleSlots();
    DecodePresetFile(prefix(21), slots);
    EXPECT_EQ(slots, StaleSlots());
    DecodePresetFile(prefix(21 + 2628 + 1314), slots);
    EXPECT_EQ(slots[0], h.slots[0]);
    for (std::size_t s = 1; s < 4; ++s) {
        EXPECT_EQ(slots[s], Stale()) << s;
    }
    slots = StaleSlots();
    DecodePresetFile(prefix(10532), slots);
    EXPECT_EQ(slots[2], h.slots[2]);
    EXPECT_EQ(slots[3], Stale());

    // A file is loaded only at its exact size: one cut short or grown is
    // reported and changes no slot.
    const fs::path folder = TestFolder();
    WriteFile(folder / "whole.wbq", h.file);
    slots = StaleSlots();
    EXPECT_EQ(LoadPresetFile((folder / "whole.wbq").string(), slots), "");
    EXPECT_EQ(slots, h.slots);
    for (const std::size_t size : {std::size_t{0}, std::size_t{20}, std::size_t{21 + 2628},
                                   std::size_t{10532}, std::size_t{12000}}) {
        Bytes changed = h.file;
        changed.resize(size, 0);
        const std::string path = (folder / "sized.wbq").string();
        WriteFile(path, changed);
        slots = StaleSlots();
        EXPECT_EQ(LoadPresetFile(path, slots), "\"" + path + "\" is not a preset file: it holds " +
                                                   std::to_string(size) +
                                                   " bytes, a preset file 10533.");
        EXPECT_EQ(slots, StaleSlots()) << size;
    }
}

// A FIFO (which would block the open until a writer comes) and a device
// without end are refused at once.
TEST(PresetFileErrors, OnlyRegularFilesAreRead) {
    const fs::path folder = TestFolder();
    const std::string fifo = (folder / "fifo.wbq").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    PresetSlots slots = StaleSlots();
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        EXPECT_EQ(LoadPresetFile(path, slots),
                  "Cannot read file \"" + path + "\". It is not a regular file.");
    }
    EXPECT_EQ(slots, StaleSlots());
}

TEST(PresetFile, TextsBecomeWindows1252CutTo255Characters) {
    std::string accents;
    for (int i = 0; i < 300; ++i) {
        accents += "\u00E9";
    }
    PresetSlots slots;
    slots[0].name = std::string(300, 'n');
    slots[1].name = accents;
    slots[2].name =
        "a\u6F22b\U0001F600c\xFF\xE9"
        "d \u00E9\u20AC\u0178";
    const Bytes file = EncodePresetFile(slots);
    EXPECT_EQ(GetText(file, RecordStart(0)), std::string(255, 'n'));
    EXPECT_EQ(GetText(file, RecordStart(1)), std::string(255, '\xE9'));
    EXPECT_EQ(GetText(file, RecordStart(2)), "a?b?c??d \xE9\x80\x9F");

    PresetSlots loaded;
    DecodePresetFile(file, loaded);
    EXPECT_EQ(loaded[0].name, std::string(255, 'n'));
    EXPECT_EQ(loaded[1].name, accents.substr(0, 510));
    EXPECT_EQ(loaded[2].name, "a?b?c??d \u00E9\u20AC\u0178");
}

TEST(PresetFileErrors, AFileThatCannotBeReadIsReportedAndChangesNothing) {
    const fs::path folder = TestFolder();
    PresetSlots slots = StaleSlots();
    const std::string missing = (folder / "missing.vlm").string();
    ExpectReport(LoadPresetFile(missing, slots), missing, ENOENT);
    // A folder opens but cannot be read.
    ExpectReport(LoadPresetFile(folder.string(), slots), folder.string(), EISDIR);
    EXPECT_EQ(slots, StaleSlots());
}

TEST(PresetFileErrors, AFailedSaveLeavesTheOldTargetAndNoTemporary) {
    const fs::path folder = TestFolder();
    const PresetSlots slots = BuildByHand().slots;
    const std::string inMissingFolder = (folder / "none" / "p.vlm").string();
    ExpectReport(SavePresetFile(inMissingFolder, slots), inMissingFolder, ENOENT);

    // A folder in the target's place is not replaced.
    const fs::path taken = folder / "taken.vlm";
    fs::create_directory(taken);
    WriteFile(taken / "inside", Bytes(3, 'i'));
    ExpectReport(SavePresetFile(taken.string(), slots), taken.string(), EISDIR);
    EXPECT_EQ(Entries(folder), std::vector<fs::path>{taken});
    EXPECT_EQ(ReadFile(taken / "inside"), Bytes(3, 'i'));
}

TEST(PresetFileErrors, RefusedAccessIsReportedAndChangesNothing) {
    const fs::path folder = TestFolder();
    // A folder that cannot be written, a write-protected file in one that
    // can, and a file that cannot be read.
    const fs::path locked = folder / "locked";
    fs::create_directory(locked);
    WriteFile(locked / "old.vlm", Bytes(10, 'o'));
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    const fs::path protectedFile = folder / "protected.vlm";
    WriteFile(protectedFile, Bytes(10, 'p'));
    fs::permissions(protectedFile, fs::perms::owner_read | fs::perms::others_read);
    const fs::path secret = folder / "secret.vlm";
    WriteFile(secret, EncodePresetFile(BuildByHand().slots));
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(folder, fs::perms::all);
    const auto before = testing::FolderContents(folder);

    const std::optional<std::string> report = testing::AsUnprivileged([&] {
        PresetSlots slots = StaleSlots();
        return SavePresetFile((locked / "old.vlm").string(), slots) + "\n" +
               SavePresetFile(protectedFile.string(), slots) + "\n" +
               LoadPresetFile(secret.string(), slots) + (slots == StaleSlots() ? "" : " (changed)");
    });
    const auto after = testing::FolderContents(folder);
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(after, before);
    if (!report) {
        GTEST_SKIP() << "root cannot give up its rights here";
    }
    const std::string denied = std::strerror(EACCES);
    EXPECT_EQ(*report, "Cannot create file \"" + (locked / "old.vlm").string() + "\". " + denied +
                           ".\nCannot create file \"" + protectedFile.string() + "\". " + denied +
                           ".\nCannot open file \"" + secret.string() + "\". " + denied + ".");
}

}  // namespace
}  // namespace skarnel
