// The settings store against the real registry: every case gets a tree of its own below
// HKEY_CURRENT_USER and a scratch directory for the naming rules, both removed afterwards.

#include "settings/Prefs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr char kTestRoot[] = "Software\\VorluxTests";

struct ExpectedValue {
    const char* subKey;
    const char* name;
    DWORD type;
    DWORD number;
    const char* text;
};

// Written out independently of the store's own table.
const ExpectedValue kExpected[] = {
    {"Movie", "LastMovieRecorded", REG_SZ, 0, ""},
    {"Movie", "RecordMouseShape", REG_DWORD, 1, nullptr},
    {"Movie", "FramesPerSecond", REG_DWORD, 10, nullptr},
    {"Movie", "CaptureMode", REG_DWORD, 0, nullptr},
    {"Movie", "CursorMode", REG_DWORD, 0, nullptr},
    {"Movie", "VorluxMode", REG_DWORD, 0, nullptr},
    {"Movie", "BitDepth", REG_DWORD, 8, nullptr},
    {"Movie", "Left", REG_DWORD, 0, nullptr},
    {"Movie", "Top", REG_DWORD, 0, nullptr},
    {"Movie", "Width", REG_DWORD, 400, nullptr},
    {"Movie", "Height", REG_DWORD, 300, nullptr},
    {"Movie", "PanValue", REG_DWORD, 50, nullptr},
    {"Movie", "KeyFrame", REG_DWORD, 10, nullptr},
    {"Movie", "Lossless", REG_DWORD, 0, nullptr},
    {"Key", "StartKey", REG_DWORD, 0x374, nullptr},
    {"Key", "StopKey", REG_DWORD, 0x375, nullptr},
    {"Key", "PauseKey", REG_DWORD, 0x376, nullptr},
    {"Key", "CaptureKey", REG_DWORD, 0x377, nullptr},
    {"Path", "AutoIncrement", REG_DWORD, 1, nullptr},
    {"Path", "Directory", REG_SZ, 0, "%c"},
    {"Path", "Filename", REG_SZ, 0, "VluxTake"},
    {"Sound", "EnableSoundCapture", REG_DWORD, 0, nullptr},
    {"Sound", "BufferCount", REG_DWORD, 0, nullptr},
    {"Sound", "Frequency", REG_DWORD, 22050, nullptr},
    {"Sound", "DataSize", REG_DWORD, 8, nullptr},
    {"Sound", "Channels", REG_DWORD, 1, nullptr},
    {"Capture", "AutoIncrement", REG_DWORD, 1, nullptr},
    {"Capture", "Directory", REG_SZ, 0, "%c"},
    {"Misc", "DefaultPosition", REG_DWORD, 3, nullptr},
    {"Misc", "StatusIcon", REG_DWORD, 1, nullptr},
    {"Movie", "HighlightClicks", REG_DWORD, 0, nullptr},
    {"Movie", "CursorHalo", REG_DWORD, 0, nullptr},
    {"Movie", "ShowKeys", REG_DWORD, 0, nullptr},
    {"Movie", "Format", REG_DWORD, 0, nullptr},
    {"Capture", "Format", REG_DWORD, 0, nullptr},
};
const char* const kSubKeys[] = {"Movie", "Sound", "Key", "Path", "Capture", "Misc"};

std::string Text(const std::function<void(char*, std::size_t)>& get, std::size_t size = kPrefsPathSize)
{
    std::vector<char> buffer(size, 'x');
    get(buffer.data(), buffer.size());
    EXPECT_NE(std::memchr(buffer.data(), '\0', buffer.size()), nullptr);
    return buffer.data();
}

class PrefsTest : public ::testing::Test {
public:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = std::string(kTestRoot) + "\\" + info->test_suite_name() + "." + info->name();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        dir = fs::temp_directory_path() / (std::string("vorlux_prefs_") + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    PrefsLocation Location() const { return {HKEY_CURRENT_USER, path}; }
    Prefs Make() const { return Prefs(Location(), PrefsLocation{}); }
    std::string Dir() const { return dir.string(); }

    void Touch(const std::string& name) const
    {
        ScopedFile file(::CreateFileA((dir / name).string().c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << name;
    }

    ScopedRegKey OpenSub(const char* subKey) const
    {
        HKEY key = nullptr;
        const std::string full = path + "\\" + subKey;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return ScopedRegKey();
        return ScopedRegKey(key);
    }

    void Raw(const char* subKey, const char* name, DWORD type, const void* data, DWORD size) const
    {
        ScopedRegKey key = OpenSub(subKey);
        ASSERT_TRUE(key) << subKey;
        ASSERT_EQ(::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    void RawText(const char* subKey, const char* name, const std::string& text, bool withNul) const
    {
        // A counted text followed by a NUL gets that NUL stored too; the guard byte keeps the
        // registry from seeing one.
        std::string data = text + (withNul ? std::string(1, '\0') : std::string()) + 'Z';
        Raw(subKey, name, REG_SZ, data.data(), static_cast<DWORD>(data.size() - 1));
    }
    void Remove(const char* subKey, const char* name) const
    {
        ScopedRegKey key = OpenSub(subKey);
        ASSERT_TRUE(key) << subKey;
        ASSERT_EQ(::RegDeleteValueA(key.get(), name), ERROR_SUCCESS) << name;
    }
    // Stored type and bytes of one value; type REG_NONE when missing.
    std::pair<DWORD, std::string> Stored(const char* subKey, const char* name) const
    {
        ScopedRegKey key = OpenSub(subKey);
        char data[1024];
        DWORD type = REG_NONE;
        DWORD size = sizeof data;
        if (!key || ::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                       &size) != ERROR_SUCCESS)
            return {REG_NONE, {}};
        return {type, std::string(data, size)};
    }
    static std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

    std::string path;
    fs::path dir;
};

// --- Creation -------------------------------------------------------------------------------

TEST_F(PrefsTest, FirstStartCreatesTheWholeTreeWithDefaults)
{
    Prefs prefs = Make();
    EXPECT_EQ(prefs.Hive(), HKEY_CURRENT_USER);
    for (const ExpectedValue& value : kExpected) {
        SCOPED_TRACE(std::string(value.subKey) + "\\" + value.name);
        const auto [type, bytes] = Stored(value.subKey, value.name);
        EXPECT_EQ(type, value.type);
        if (value.type == REG_DWORD)
            EXPECT_EQ(bytes, Dword(value.number));
        else
            EXPECT_EQ(bytes.substr(0, bytes.find('\0')), value.text);
    }
    for (const char* subKey : kSubKeys) {
        ScopedRegKey key = OpenSub(subKey);
        ASSERT_TRUE(key) << subKey;
        DWORD values = 0;
        ASSERT_EQ(::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     &values, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        std::size_t expected = 0;
        for (const ExpectedValue& value : kExpected)
            expected += std::strcmp(value.subKey, subKey) == 0;
        EXPECT_EQ(values, expected) << subKey;
    }

    prefs.SetProgramDirectory(Dir().c_str());
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetMovieDirectory(b, s); }), Dir());
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); }), "VluxTake000.avi");
}

TEST_F(PrefsTest, ExistingStoreKeepsItsValues)
{
    Make().SetFramesPerSecond(25);
    EXPECT_EQ(Make().GetFramesPerSecond(), 25);
}

struct SubKeyCase {
    const char* subKey;
    std::function<int64_t(const Prefs&)> get;
    std::function<void(Prefs&)> set;
    int64_t failure;
};

TEST_F(PrefsTest, DeletedSubKeyFailsAndIsNotRecreated)
{
    const SubKeyCase cases[] = {
        {"Movie", [](const Prefs& p) { return p.GetFramesPerSecond(); }, [](Prefs& p) { p.SetFramesPerSecond(5); }, -1},
        {"Sound", [](const Prefs& p) { return p.GetFrequency(); }, [](Prefs& p) { p.SetFrequency(44100); }, -1},
        {"Key", [](const Prefs& p) { return p.GetStartKey(); }, [](Prefs& p) { p.SetStartKey(0x241); }, 0},
        {"Path", [](const Prefs& p) { return int64_t{p.GetAutoIncrement()}; }, [](Prefs& p) { p.SetAutoIncrement(true); }, 0},
    };
    for (const SubKeyCase& c : cases) {
        SCOPED_TRACE(c.subKey);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        { Prefs created = Make(); }
        ASSERT_EQ(::RegDeleteTreeA(HKEY_CURRENT_USER, (path + "\\" + c.subKey).c_str()), ERROR_SUCCESS);

        Prefs prefs = Make();
        EXPECT_EQ(c.get(prefs), c.failure);
        c.set(prefs);
        EXPECT_EQ(c.get(prefs), c.failure);
        EXPECT_FALSE(OpenSub(c.subKey));
        EXPECT_FALSE(OpenSub(c.subKey)) << "recreated by a second open";
        { Prefs again = Make(); }
        EXPECT_FALSE(OpenSub(c.subKey));
        // The others still work.
        EXPECT_EQ(prefs.GetChannels() == -1, std::strcmp(c.subKey, "Sound") == 0);
        EXPECT_EQ(prefs.GetCaptureKey() == 0, std::strcmp(c.subKey, "Key") == 0);
    }
    // With Path gone its texts read as their defaults, and setting them changes nothing.
    ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    { Prefs created = Make(); }
    ::RegDeleteTreeA(HKEY_CURRENT_USER, (path + "\\Path").c_str());
    Prefs prefs = Make();
    prefs.SetDirectory("C:\\x");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetDirectory(b, s); }), "%c");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetFilename(b, s); }), "VluxTake");
    EXPECT_FALSE(OpenSub("Path"));
}

TEST_F(PrefsTest, DeletedValueIsNotRecreated)
{
    { Prefs created = Make(); }
    Remove("Movie", "KeyFrame");
    Prefs prefs = Make();
    EXPECT_EQ(prefs.GetKeyFrame(), -1);
    EXPECT_EQ(Stored("Movie", "KeyFrame").first, DWORD{REG_NONE});
    prefs.SetKeyFrame(12);
    EXPECT_EQ(prefs.GetKeyFrame(), 12);
}

// --- Values ---------------------------------------------------------------------------------

struct NumberCase {
    const char* subKey;
    const char* name;
    std::function<int32_t(const Prefs&)> get;
    std::function<void(Prefs&, int32_t)> set;  // empty for a read-only value
    int32_t written;
    int32_t readBack;
    int32_t failure;
};

std::vector<NumberCase> NumberCases()
{
    return {
        {"Movie", "FramesPerSecond", [](const Prefs& p) { return p.GetFramesPerSecond(); }, [](Prefs& p, int32_t v) { p.SetFramesPerSecond(v); }, 25, 25, -1},
        {"Movie", "RecordMouseShape", [](const Prefs& p) { return p.GetRecordMouseShape(); }, {}, 0, 1, -1},
        {"Movie", "CaptureMode", [](const Prefs& p) { return p.GetCaptureMode(); }, [](Prefs& p, int32_t v) { p.SetCaptureMode(v); }, 4, 4, -1},
        {"Movie", "CursorMode", [](const Prefs& p) { return p.GetCursorMode(); }, [](Prefs& p, int32_t v) { p.SetCursorMode(v); }, 7, 1, -1},
        {"Movie", "VorluxMode", [](const Prefs& p) { return p.GetVorluxMode(); }, [](Prefs& p, int32_t v) { p.SetVorluxMode(v); }, -5, 1, -1},
        {"Movie", "PanValue", [](const Prefs& p) { return p.GetPanValue(); }, [](Prefs& p, int32_t v) { p.SetPanValue(v); }, 100, 100, -1},
        {"Movie", "KeyFrame", [](const Prefs& p) { return p.GetKeyFrame(); }, [](Prefs& p, int32_t v) { p.SetKeyFrame(v); }, 30, 30, -1},
        {"Movie", "Lossless", [](const Prefs& p) { return int32_t{p.GetLossless()}; }, [](Prefs& p, int32_t v) { p.SetLossless(v != 0); }, 1, 1, 0},
        {"Movie", "HighlightClicks", [](const Prefs& p) { return int32_t{p.GetHighlightClicks()}; }, [](Prefs& p, int32_t v) { p.SetHighlightClicks(v != 0); }, 1, 1, 0},
        {"Movie", "CursorHalo", [](const Prefs& p) { return int32_t{p.GetCursorHalo()}; }, [](Prefs& p, int32_t v) { p.SetCursorHalo(v != 0); }, 1, 1, 0},
        {"Movie", "ShowKeys", [](const Prefs& p) { return p.GetShowKeys(); }, [](Prefs& p, int32_t v) { p.SetShowKeys(v); }, 2, 2, 0},
        {"Movie", "Format", [](const Prefs& p) { return int32_t(p.GetMovieFormat()); }, [](Prefs& p, int32_t v) { p.SetMovieFormat(MovieFormat(v)); }, 1, 1, 0},
        {"Capture", "Format", [](const Prefs& p) { return int32_t(p.GetFrameFormat()); }, [](Prefs& p, int32_t v) { p.SetFrameFormat(FrameFormat(v)); }, 1, 1, 0},
        {"Key", "StartKey", [](const Prefs& p) { return p.GetStartKey(); }, [](Prefs& p, int32_t v) { p.SetStartKey(v); }, 0x441, 0x441, 0},
        {"Key", "StopKey", [](const Prefs& p) { return p.GetStopKey(); }, [](Prefs& p, int32_t v) { p.SetStopKey(v); }, 0x142, 0x142, 0},
        {"Key", "PauseKey", [](const Prefs& p) { return p.GetPauseKey(); }, [](Prefs& p, int32_t v) { p.SetPauseKey(v); }, 0x213, 0x213, 0},
        {"Key", "CaptureKey", [](const Prefs& p) { return p.GetCaptureKey(); }, [](Prefs& p, int32_t v) { p.SetCaptureKey(v); }, 0x7B, 0x7B, 0},
        {"Path", "AutoIncrement", [](const Prefs& p) { return int32_t{p.GetAutoIncrement()}; }, [](Prefs& p, int32_t v) { p.SetAutoIncrement(v != 0); }, 0, 0, 0},
        {"Sound", "EnableSoundCapture", [](const Prefs& p) { return int32_t{p.GetEnableSoundCapture()}; }, [](Prefs& p, int32_t v) { p.SetEnableSoundCapture(v != 0); }, 1, 1, 0},
        {"Sound", "BufferCount", [](const Prefs& p) { return p.GetBufferCount(); }, [](Prefs& p, int32_t v) { p.SetBufferCount(v); }, 10, 10, -1},
        {"Sound", "Frequency", [](const Prefs& p) { return p.GetFrequency(); }, [](Prefs& p, int32_t v) { p.SetFrequency(v); }, 44100, 44100, -1},
        {"Sound", "DataSize", [](const Prefs& p) { return p.GetDataSize(); }, [](Prefs& p, int32_t v) { p.SetDataSize(v); }, 16, 16, -1},
        {"Sound", "Channels", [](const Prefs& p) { return p.GetChannels(); }, [](Prefs& p, int32_t v) { p.SetChannels(v); }, 2, 2, -1},
        // Stored settings from before the status icon existed keep showing it.
        {"Misc", "StatusIcon", [](const Prefs& p) { return int32_t{p.GetStatusIcon()}; }, [](Prefs& p, int32_t v) { p.SetStatusIcon(v != 0); }, 0, 0, 1},
    };
}

TEST_F(PrefsTest, NumbersRoundTrip)
{
    Prefs prefs = Make();
    for (const NumberCase& c : NumberCases()) {
        SCOPED_TRACE(c.name);
        if (c.set) {
            c.set(prefs, c.written);
            EXPECT_EQ(Stored(c.subKey, c.name).second, Dword(static_cast<DWORD>(c.written)));
        }
        EXPECT_EQ(c.get(prefs), c.readBack);
        EXPECT_EQ(c.get(Make()), c.readBack) << "seen by another store";
    }
    // Cursor and panel switches read exactly 0 when off; switches are stored as 0 or 1.
    prefs.SetCursorMode(0);
    EXPECT_EQ(prefs.GetCursorMode(), 0);
    prefs.SetAutoIncrement(true);
    EXPECT_EQ(Stored("Path", "AutoIncrement").second, Dword(1));
}

TEST_F(PrefsTest, NumbersMissingOrOfAnotherTypeGiveTheFailureValue)
{
    const std::string text = "10";
    const WORD shortValue = 10;
    const struct {
        const char* what;
        std::function<void(const PrefsTest&, const char*, const char*)> spoil;
    } spoils[] = {
        {"missing", [](const PrefsTest& t, const char* s, const char* n) { t.Remove(s, n); }},
        {"text", [&](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, text, true); }},
        {"two bytes", [&](const PrefsTest& t, const char* s, const char* n) { t.Raw(s, n, REG_BINARY, &shortValue, 2); }},
    };
    for (const auto& spoil : spoils) {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        Prefs prefs = Make();
        for (const NumberCase& c : NumberCases()) {
            SCOPED_TRACE(std::string(c.name) + " " + spoil.what);
            spoil.spoil(*this, c.subKey, c.name);
            EXPECT_EQ(c.get(prefs), c.failure);
        }
    }
}

TEST_F(PrefsTest, ShowKeysOutOfRangeIsOff)
{
    Prefs prefs = Make();
    for (const DWORD stored : {DWORD{3}, DWORD{0xFFFFFFFF}, DWORD{0x80000002}}) {
        SCOPED_TRACE(stored);
        Raw("Movie", "ShowKeys", REG_DWORD, &stored, sizeof stored);
        EXPECT_EQ(prefs.GetShowKeys(), 0);
    }
    prefs.SetShowKeys(5);
    EXPECT_EQ(Stored("Movie", "ShowKeys").second, Dword(0));
}

struct TextCase {
    const char* subKey;
    const char* name;
    std::function<void(const Prefs&, char*, std::size_t)> get;
    std::function<void(Prefs&, const char*)> set;  // empty for a value nobody writes
    std::string sample;                            // a usable value
    std::string fallback;                          // what an unusable value reads as
    bool bareName;                                 // a path separator makes it unusable
};

// Written out independently of the store's own table.
std::vector<TextCase> TextCases()
{
    return {
        {"Path", "Directory", [](const Prefs& p, char* b, std::size_t s) { p.GetDirectory(b, s); }, [](Prefs& p, const char* t) { p.SetDirectory(t); }, "C:\\Movies", "%c", false},
        {"Path", "Filename", [](const Prefs& p, char* b, std::size_t s) { p.GetFilename(b, s); }, [](Prefs& p, const char* t) { p.SetFilename(t); }, "Take two", "VluxTake", true},
        {"Movie", "LastMovieRecorded", [](const Prefs& p, char* b, std::size_t s) { p.GetLastMovieRecorded(b, s); }, [](Prefs& p, const char* t) { p.SetLastMovieRecorded(t); }, "C:\\Movies\\a.avi", "", false},
        {"Capture", "Directory", [](const Prefs& p, char* b, std::size_t s) { p.GetText(PrefsSetting::CaptureDirectory, b, s); }, {}, "C:\\Shots", "%c", false},
    };
}

TEST_F(PrefsTest, TextsRoundTrip)
{
    Prefs prefs = Make();
    const std::string longest(kPrefsPathSize - 1, 'p');
    for (const TextCase& c : TextCases()) {
        if (!c.set)
            continue;
        for (const std::string& text : {c.sample, std::string(), longest}) {
            SCOPED_TRACE(std::string(c.name) + " length " + std::to_string(text.size()));
            c.set(prefs, text.c_str());
            EXPECT_EQ(Text([&](char* b, std::size_t s) { c.get(prefs, b, s); }), text);
        }
        // Too long for a path: refused, the previous value stays.
        c.set(prefs, "kept");
        c.set(prefs, std::string(kPrefsPathSize, 'q').c_str());
        EXPECT_EQ(Text([&](char* b, std::size_t s) { c.get(prefs, b, s); }), "kept") << c.name;
    }
}

TEST_F(PrefsTest, BaseNameWithAPathSeparatorIsRefused)
{
    Prefs prefs = Make();
    for (const char* name : {"..\\..\\x", "a/b", "\\", "C:\\Windows\\x", "/"}) {
        SCOPED_TRACE(name);
        prefs.SetFilename("kept");
        prefs.SetFilename(name);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetFilename(b, s); }), "kept");
        const std::string stored = Stored("Path", "Filename").second;
        EXPECT_EQ(stored.substr(0, stored.find('\0')), "kept");
    }
    // Names with dots stay names; a directory may hold separators.
    prefs.SetFilename("..take.");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetFilename(b, s); }), "..take.");
    prefs.SetDirectory("C:\\a/b\\c");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetDirectory(b, s); }), "C:\\a/b\\c");
}

// Every text value, spoiled in every way a hand-edited registry can: what it reads as, and that
// reading it writes nothing.
TEST_F(PrefsTest, UnusableTextsReadAsTheirFallback)
{
    Prefs prefs = Make();
    const DWORD number = 7;
    const struct {
        const char* what;
        std::function<void(const PrefsTest&, const char*, const char*)> spoil;
        std::size_t bufferSize;
        std::string stored;  // read as it is when usable
        bool usable;
        bool separator;      // usable only where a path separator is allowed
    } cases[] = {
        {"no NUL", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, "abc", false); }, kPrefsPathSize, "abc", true, false},
        {"no NUL, fills all but one byte", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, std::string(259, 'f'), false); }, kPrefsPathSize, std::string(259, 'f'), true, false},
        {"no NUL, fills the buffer", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, std::string(260, 'f'), false); }, kPrefsPathSize, "", false, false},
        {"NUL, one byte too many", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, std::string(260, 'f'), true); }, kPrefsPathSize, "", false, false},
        {"300 characters", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, std::string(300, 'o'), true); }, kPrefsPathSize, "", false, false},
        {"over-long", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, std::string(600, 'o'), true); }, kPrefsPathSize, "", false, false},
        {"number", [&](const PrefsTest& t, const char* s, const char* n) { t.Raw(s, n, REG_DWORD, &number, 4); }, kPrefsPathSize, "", false, false},
        {"expandable text", [](const PrefsTest& t, const char* s, const char* n) { t.Raw(s, n, REG_EXPAND_SZ, "%TEMP%", 7); }, kPrefsPathSize, "", false, false},
        {"missing", [](const PrefsTest& t, const char* s, const char* n) { t.Remove(s, n); }, kPrefsPathSize, "", false, false},
        {"parent separators", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, "..\\..\\x", false); }, kPrefsPathSize, "..\\..\\x", true, true},
        {"slash", [](const PrefsTest& t, const char* s, const char* n) { t.RawText(s, n, "a/b", true); }, kPrefsPathSize, "a/b", true, true},
    };
    for (const TextCase& t : TextCases()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(t.subKey) + "\\" + t.name + ": " + c.what);
            RawText(t.subKey, t.name, "previous", true);
            c.spoil(*this, t.subKey, t.name);
            const auto before = Stored(t.subKey, t.name);
            std::vector<std::string> writes;
            prefs.SetWriteObserver([&](const char* name) { writes.push_back(name); });
            const bool usable = c.usable && !(c.separator && t.bareName);
            EXPECT_EQ(Text([&](char* b, std::size_t s) { t.get(prefs, b, s); }, c.bufferSize),
                      usable ? c.stored : t.fallback);
            prefs.SetWriteObserver({});
            EXPECT_TRUE(writes.empty());
            EXPECT_EQ(Stored(t.subKey, t.name), before) << "a fallback is never written back";
        }
    }
    // The caller's buffer does not change what is usable: text that does not fit it is empty.
    for (const TextCase& t : TextCases()) {
        SCOPED_TRACE(t.name);
        RawText(t.subKey, t.name, "abcdef", true);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { t.get(prefs, b, s); }, 4), "");
        RawText(t.subKey, t.name, "abc", true);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { t.get(prefs, b, s); }, 4), "abc");
    }
    // A number has no text.
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetText(PrefsSetting::FramesPerSecond, b, s); }), "");
}

// Where an unusable directory or name sends movies and snapshots: beside the program, under the
// default name, never to the drive's root or out of the directory.
TEST_F(PrefsTest, UnusableDestinationGoesToTheProgramDirectory)
{
    const DWORD number = 1;
    const struct {
        const char* what;
        const char* name;
        std::function<void(const PrefsTest&)> spoil;
    } cases[] = {
        {"directory a number", "Directory", [&](const PrefsTest& t) { t.Raw("Path", "Directory", REG_DWORD, &number, 4); }},
        {"directory 300 characters", "Directory", [](const PrefsTest& t) { t.RawText("Path", "Directory", std::string(300, 'd'), false); }},
        {"directory missing", "Directory", [](const PrefsTest& t) { t.Remove("Path", "Directory"); }},
        {"name a number", "Filename", [&](const PrefsTest& t) { t.Raw("Path", "Filename", REG_DWORD, &number, 4); }},
        {"name 300 characters", "Filename", [](const PrefsTest& t) { t.RawText("Path", "Filename", std::string(300, 'n'), false); }},
        {"name missing", "Filename", [](const PrefsTest& t) { t.Remove("Path", "Filename"); }},
        {"name leads out", "Filename", [](const PrefsTest& t) { t.RawText("Path", "Filename", "..\\..\\x", false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        Prefs prefs = Make();
        prefs.SetProgramDirectory(Dir().c_str());
        c.spoil(*this);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetMovieDirectory(b, s); }), Dir());
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); }), "VluxTake000.avi");
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextSnapshotName(b, s); }), "VluxTake000.bmp");
    }
}

// --- Capture area ---------------------------------------------------------------------------

TEST_F(PrefsTest, CaptureAreaIsStoredTopLeftWidthHeight)
{
    Prefs prefs = Make();
    std::vector<std::string> order;
    prefs.SetWriteObserver([&](const char* name) { order.push_back(name); });
    prefs.SetCaptureArea({10, 20, 330, 260});
    EXPECT_EQ(order, (std::vector<std::string>{"Top", "Left", "Width", "Height"}));
    EXPECT_EQ(Stored("Movie", "Left").second, Dword(10));
    EXPECT_EQ(Stored("Movie", "Top").second, Dword(20));
    EXPECT_EQ(Stored("Movie", "Width").second, Dword(320));
    EXPECT_EQ(Stored("Movie", "Height").second, Dword(240));
    EXPECT_EQ(prefs.GetCaptureArea(), (VRect{10, 20, 330, 260}));
    EXPECT_EQ(Make().GetCaptureArea(), (VRect{10, 20, 330, 260}));

    prefs.SetCaptureArea({-1280, -100, -640, 380});
    EXPECT_EQ(prefs.GetCaptureArea(), (VRect{-1280, -100, -640, 380}));

    // An extent beyond 32 bits is not stored at all.
    order.clear();
    prefs.SetCaptureArea({INT32_MIN, 0, INT32_MAX, 10});
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(prefs.GetCaptureArea(), (VRect{-1280, -100, -640, 380}));
}

TEST_F(PrefsTest, CaptureAreaWithAnyValueMissingIsEmpty)
{
    for (const char* name : {"Left", "Top", "Width", "Height"}) {
        SCOPED_TRACE(name);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        Prefs prefs = Make();
        prefs.SetCaptureArea({10, 20, 330, 260});
        Remove("Movie", name);
        EXPECT_EQ(prefs.GetCaptureArea(), VRect{});
    }
    Prefs prefs = Make();
    prefs.SetCaptureArea({10, 20, 330, 260});
    const DWORD huge = 0x7FFFFFFF;
    Raw("Movie", "Width", REG_DWORD, &huge, 4);
    EXPECT_EQ(prefs.GetCaptureArea(), VRect{}) << "right edge beyond the coordinate range";
}

TEST_F(PrefsTest, FormatsThisVersionDoesNotKnowReadAsAviAndBmp)
{
    Prefs prefs = Make();
    for (const DWORD stored : {DWORD(2), DWORD(7), DWORD(0xFFFFFFFF)}) {
        Raw("Movie", "Format", REG_DWORD, &stored, 4);
        Raw("Capture", "Format", REG_DWORD, &stored, 4);
        EXPECT_EQ(prefs.GetMovieFormat(), MovieFormat::Avi) << stored;
        EXPECT_EQ(prefs.GetFrameFormat(), FrameFormat::Bmp) << stored;
    }
}

// --- Naming ---------------------------------------------------------------------------------

TEST_F(PrefsTest, NextNamesTakeTheFirstFreeNumber)
{
    const struct {
        const char* what;
        std::vector<std::string> present;
        bool autoIncrement;
        const char* movie;
        const char* snapshot;
        MovieFormat movieFormat = MovieFormat::Avi;
        FrameFormat frameFormat = FrameFormat::Bmp;
    } cases[] = {
        {"none", {}, true, "VluxTake000.avi", "VluxTake000.bmp"},
        {"two taken", {"VluxTake000.avi", "VluxTake001.avi"}, true, "VluxTake002.avi", "VluxTake000.bmp"},
        {"gap", {"VluxTake001.avi"}, true, "VluxTake000.avi", "VluxTake000.bmp"},
        {"own extension", {"VluxTake000.bmp"}, true, "VluxTake000.avi", "VluxTake001.bmp"},
        {"another base", {"Other000.avi", "VluxTake000"}, true, "VluxTake000.avi", "VluxTake000.bmp"},
        {"off", {"VluxTake.avi", "VluxTake000.avi"}, false, "VluxTake.avi", "VluxTake.bmp"},
        {"GIF and PNG", {"VluxTake000.avi", "VluxTake000.bmp", "VluxTake000.gif"}, true, "VluxTake001.gif",
         "VluxTake000.png", MovieFormat::Gif, FrameFormat::Png},
        {"GIF and PNG, off", {"VluxTake.gif"}, false, "VluxTake.gif", "VluxTake.png", MovieFormat::Gif, FrameFormat::Png},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const std::string& name : c.present)
            Touch(name);
        Prefs prefs = Make();
        prefs.SetProgramDirectory(Dir().c_str());
        prefs.SetAutoIncrement(c.autoIncrement);
        prefs.SetMovieFormat(c.movieFormat);
        prefs.SetFrameFormat(c.frameFormat);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); }), c.movie);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextSnapshotName(b, s); }), c.snapshot);
    }
}

TEST_F(PrefsTest, AllNumbersTakenGivesTheLast)
{
    for (int n = 0; n < 1000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Shot%03d.bmp", n);
        Touch(name);
    }
    Prefs prefs = Make();
    prefs.SetDirectory(Dir().c_str());
    prefs.SetFilename("Shot");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextSnapshotName(b, s); }), "Shot999.bmp");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); }), "Shot000.avi");
}

TEST_F(PrefsTest, DirectoryTokensResolve)
{
    char windows[MAX_PATH];
    char system[MAX_PATH];
    ASSERT_GT(::GetWindowsDirectoryA(windows, sizeof windows), 0u);
    ASSERT_GT(::GetSystemDirectoryA(system, sizeof system), 0u);
    const struct {
        const char* stored;
        std::string resolved;
    } cases[] = {
        {"%c", Dir()}, {"%w", windows}, {"%s", system}, {"%C", "%C"}, {"%W", "%W"},
        {"%c\\sub", "%c\\sub"}, {"", ""}, {"D:\\Movies", "D:\\Movies"},
    };
    Prefs prefs = Make();
    prefs.SetProgramDirectory(Dir().c_str());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        prefs.SetDirectory(c.stored);
        EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetMovieDirectory(b, s); }), c.resolved);
    }
    // An empty directory is used as it is: the name is looked up below the drive's root.
    prefs.SetDirectory("");
    prefs.SetFilename("VorluxNoSuchName");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); }), "VorluxNoSuchName000.avi");
}

TEST_F(PrefsTest, PathsThatDoNotFitGiveEmptyNames)
{
    Prefs prefs = Make();
    prefs.SetFilename("VluxTake");
    // Directory + "\" + "VluxTake000.avi" is 16 characters more than the directory.
    const struct {
        std::size_t directoryLength;
        bool autoIncrement;
        bool fits;
    } cases[] = {
        {243, true, true}, {244, true, false}, {259, true, false},
        {246, false, true}, {247, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directoryLength);
        prefs.SetDirectory(std::string(c.directoryLength, 'd').c_str());
        prefs.SetAutoIncrement(c.autoIncrement);
        const std::string name = Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); });
        EXPECT_EQ(name.empty(), !c.fits) << name;
    }
    // A resolved directory longer than the caller's buffer is not cut.
    prefs.SetDirectory("C:\\Movies");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetMovieDirectory(b, s); }, 9), "");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetMovieDirectory(b, s); }, 10), "C:\\Movies");
}

TEST_F(PrefsTest, ProgramDirectoryIsKeptWholeOrNotAtAll)
{
    Prefs prefs = Make();
    EXPECT_STREQ(prefs.GetProgramDirectory(), "");
    prefs.SetProgramDirectory("C:\\Program Files\\Vorlux");
    EXPECT_STREQ(prefs.GetProgramDirectory(), "C:\\Program Files\\Vorlux");
    prefs.SetProgramDirectory(std::string(kPrefsPathSize - 1, 'c').c_str());
    EXPECT_EQ(std::strlen(prefs.GetProgramDirectory()), kPrefsPathSize - 1);
    prefs.SetProgramDirectory(std::string(kPrefsPathSize, 'c').c_str());
    EXPECT_STREQ(prefs.GetProgramDirectory(), "");
}

// --- Location -------------------------------------------------------------------------------

TEST_F(PrefsTest, UnavailablePrimaryFallsBackWithTheSameRules)
{
    // A hive that refuses every open and create stands for HKEY_LOCAL_MACHINE as a standard
    // user meets it.
    const auto refusing = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000010));
    HKEY probe = nullptr;
    ASSERT_NE(::RegCreateKeyExA(refusing, "Store", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &probe, nullptr),
              ERROR_SUCCESS);

    const std::string fallbackPath = path + "\\User";
    {
        Prefs prefs(PrefsLocation{refusing, "Store"}, PrefsLocation{HKEY_CURRENT_USER, fallbackPath});
        EXPECT_EQ(prefs.Hive(), HKEY_CURRENT_USER);
        EXPECT_EQ(prefs.GetStartKey(), 0x374);
        EXPECT_EQ(prefs.GetFramesPerSecond(), 10);
        prefs.SetFramesPerSecond(3);
    }
    // Reopened: the fallback's values stay, its defaults are not written again.
    Prefs prefs(PrefsLocation{refusing, "Store"}, PrefsLocation{HKEY_CURRENT_USER, fallbackPath});
    EXPECT_EQ(prefs.Hive(), HKEY_CURRENT_USER);
    EXPECT_EQ(prefs.GetFramesPerSecond(), 3);
}

TEST_F(PrefsTest, PrimaryComesFirstWhenBothExist)
{
    const std::string userPath = path + "\\User";
    const std::string machinePath = path + "\\Machine";
    { Prefs user(PrefsLocation{HKEY_CURRENT_USER, userPath}, PrefsLocation{}); user.SetFramesPerSecond(1); }
    { Prefs machine(PrefsLocation{HKEY_CURRENT_USER, machinePath}, PrefsLocation{}); machine.SetFramesPerSecond(2); }
    Prefs prefs(PrefsLocation{HKEY_CURRENT_USER, machinePath}, PrefsLocation{HKEY_CURRENT_USER, userPath});
    EXPECT_EQ(prefs.GetFramesPerSecond(), 2);
}

TEST_F(PrefsTest, NoLocationAtAllReadsFailureValues)
{
    Prefs prefs(PrefsLocation{}, PrefsLocation{});
    EXPECT_EQ(prefs.Hive(), nullptr);
    prefs.SetFramesPerSecond(10);
    prefs.SetStartKey(0x374);
    prefs.SetDirectory("%c");
    EXPECT_EQ(prefs.GetFramesPerSecond(), -1);
    EXPECT_EQ(prefs.GetCursorMode(), -1);
    EXPECT_EQ(prefs.GetStartKey(), 0);
    EXPECT_FALSE(prefs.GetAutoIncrement());
    EXPECT_EQ(prefs.GetCaptureArea(), VRect{});
    // The destination's defaults: the program directory (not known here) and the default name,
    // unnumbered since the switch reads as off.
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetDirectory(b, s); }), "%c");
    EXPECT_EQ(Text([&](char* b, std::size_t s) { prefs.GetNextMovieName(b, s); }), "VluxTake.avi");
}

TEST(PrefsGlobal, OneStoreForTheProcessInTheMachineKey)
{
    Prefs& prefs = Prefs::Global();
    EXPECT_EQ(&prefs, &Prefs::Global());
    // Wine runs every program with full rights, so the machine-wide key is the one in use.
    EXPECT_EQ(prefs.Hive(), HKEY_LOCAL_MACHINE);
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvane\\Vorlux\\3.02\\Movie", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

}  // namespace
