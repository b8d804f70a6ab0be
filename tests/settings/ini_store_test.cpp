// The settings in a file beside the program, and the choice between file and registry: values
// round-trip with their types, lines the store cannot use read as missing and survive writes,
// and without the file the registry is used as before.

#include "settings/IniStore.h"
#include "settings/Prefs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr char kTestRoot[] = "Software\\VorluxTests\\Ini";

class IniStoreTest : public ::testing::Test {
public:
    void SetUp() override
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        key = std::string(kTestRoot) + "\\" + name + "\\3.02";
        ::RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kTestRoot) + "\\" + name).c_str());
        dir = fs::temp_directory_path() / ("vorlux_ini_" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string Ini() const { return (dir / kPrefsIniName).string(); }
    void WriteIni(const std::string& text) const { std::ofstream(Ini(), std::ios::binary) << text; }
    std::string ReadIni() const
    {
        std::ostringstream text;
        text << std::ifstream(Ini(), std::ios::binary).rdbuf();
        return text.str();
    }
    std::unique_ptr<Prefs> Open() const
    {
        const PrefsLocation here{HKEY_CURRENT_USER, key};
        return Prefs::ForProgram(dir.string(), here, here);
    }
    bool KeyExists() const
    {
        HKEY opened = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(opened);
        return true;
    }

    std::string key;
    fs::path dir;
};

std::string Directory(const Prefs& prefs)
{
    char text[kPrefsPathSize];
    prefs.GetDirectory(text, sizeof text);
    return text;
}

// The empty file a portable copy ships gets every default, and values come back with their
// types from a store opened afresh; the registry is never touched.
TEST_F(IniStoreTest, EmptyFileGetsDefaultsAndValuesRoundTrip)
{
    WriteIni("");
    {
        auto prefs = Open();
        EXPECT_EQ(prefs->Hive(), nullptr);
        EXPECT_EQ(prefs->Where(), Ini());
        EXPECT_EQ(prefs->GetFramesPerSecond(), 10);
        EXPECT_EQ(prefs->GetStartKey(), 0x374);
        EXPECT_EQ(Directory(*prefs), "%c");
        prefs->SetFramesPerSecond(25);
        prefs->SetCaptureKey(-1);
        prefs->SetDirectory("D:\\Movies \"and\" clips");
        prefs->SetFilename("Take");
    }
    auto prefs = Open();
    EXPECT_EQ(prefs->GetFramesPerSecond(), 25);
    EXPECT_EQ(prefs->GetCaptureKey(), -1);
    EXPECT_EQ(Directory(*prefs), "D:\\Movies \"and\" clips");
    char name[kPrefsPathSize];
    prefs->GetFilename(name, sizeof name);
    EXPECT_STREQ(name, "Take");
    const std::string text = ReadIni();
    EXPECT_NE(text.find("[Movie]\r\n"), std::string::npos);
    EXPECT_NE(text.find("FramesPerSecond=dword:00000019\r\n"), std::string::npos);
    EXPECT_NE(text.find("CaptureKey=dword:ffffffff\r\n"), std::string::npos);
    EXPECT_NE(text.find("Filename=\"Take\"\r\n"), std::string::npos);
    EXPECT_FALSE(KeyExists());
}

// What each stored line reads as; -1 and the default directory mean "unusable".
TEST_F(IniStoreTest, LinesReadAsTheirTypeOrAsMissing)
{
    const std::string longText(kPrefsPathSize, 'a');
    struct Case {
        const char* what;
        std::string ini;
        int32_t fps;
        std::string directory;
    } cases[] = {
        {"plain", "[Movie]\nFramesPerSecond=dword:0000000f\n[Path]\nDirectory=\"C:\\x\"\n", 15, "C:\\x"},
        {"spaces and case", "[ movie ]\r\n  framespersecond = DWORD:F  \r\n[PATH]\r\ndirectory = \"C:\\y\" \r\n", 15,
         "C:\\y"},
        {"decimal number", "[Movie]\nFramesPerSecond=15\n", -1, "%c"},
        {"no digits", "[Movie]\nFramesPerSecond=dword:\n", -1, "%c"},
        {"nine digits", "[Movie]\nFramesPerSecond=dword:10000000f\n", -1, "%c"},
        {"not hex", "[Movie]\nFramesPerSecond=dword:1g\n", -1, "%c"},
        {"number as text", "[Movie]\nFramesPerSecond=\"15\"\n", -1, "%c"},
        {"text as number", "[Path]\nDirectory=dword:00000001\n", -1, "%c"},
        {"text without quotes", "[Path]\nDirectory=C:\\x\n", -1, "%c"},
        {"one quote", "[Path]\nDirectory=\"\n", -1, "%c"},
        {"text too long", "[Path]\nDirectory=\"" + longText + "\"\n", -1, "%c"},
        {"longest text", "[Path]\nDirectory=\"" + longText.substr(1) + "\"\n", -1, longText.substr(1)},
        {"other section", "[Sound]\nFramesPerSecond=dword:f\n[Movie]\n", -1, "%c"},
        {"no section", "FramesPerSecond=dword:f\n[Movie]\n", -1, "%c"},
        {"garbage around", "junk\n[broken\n[Movie]\n;FramesPerSecond=dword:1\n=dword:2\nFramesPerSecond=dword:3\n",
         3, "%c"},
    };
    for (const Case& c : cases) {
        WriteIni(c.ini);
        auto prefs = Open();
        EXPECT_EQ(prefs->GetFramesPerSecond(), c.fps) << c.what;
        EXPECT_EQ(Directory(*prefs), c.directory) << c.what;
    }
}

// A write replaces its own line only: comments and lines the store cannot read stay; a value
// goes into its section, and a missing section stays missing as a deleted sub-key does.
TEST_F(IniStoreTest, WritesKeepOtherLines)
{
    WriteIni("; my settings\r\n[Movie]\r\nFramesPerSecond=dword:1\r\nodd line\r\n\r\n[Path]\r\n");
    auto prefs = Open();
    prefs->SetFramesPerSecond(12);
    prefs->SetKeyFrame(5);
    prefs->SetFilename("Clip");
    prefs->SetStartKey(0x375);
    prefs->SetFilename("two\nlines");
    EXPECT_EQ(ReadIni(), "; my settings\r\n[Movie]\r\nFramesPerSecond=dword:0000000c\r\nodd line\r\n"
                         "KeyFrame=dword:00000005\r\n\r\n[Path]\r\nFilename=\"Clip\"\r\n");
    EXPECT_EQ(prefs->GetStartKey(), 0);
    EXPECT_FALSE(KeyExists());
}

// Without the file the registry holds the settings as before, and a new registry store takes
// the movie directory the setup program chose; a stored directory is kept as it is.
TEST_F(IniStoreTest, MissingFileMeansTheRegistry)
{
    const std::string parent = key.substr(0, key.rfind('\\'));
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, parent.c_str(), kPrefsInstallerDirectory, REG_SZ, "%v", 3),
              ERROR_SUCCESS);
    {
        auto prefs = Open();
        EXPECT_EQ(prefs->Hive(), HKEY_CURRENT_USER);
        EXPECT_EQ(prefs->Where(), "HKEY_CURRENT_USER\\" + key);
        EXPECT_EQ(Directory(*prefs), "%v");
        char movies[kPrefsPathSize];
        prefs->GetMovieDirectory(movies, sizeof movies);
        EXPECT_TRUE(fs::is_directory(movies)) << movies;
        EXPECT_NE(std::string(movies).find("\\"), std::string::npos) << movies;
        prefs->SetDirectory("%c");
    }
    EXPECT_TRUE(KeyExists());
    EXPECT_FALSE(fs::exists(Ini()));
    EXPECT_EQ(Directory(*Open()), "%c");
}

}  // namespace
