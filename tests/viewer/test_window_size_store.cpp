// The stored window size on the real registry layer, in a store under a
// temporary XDG_CONFIG_HOME.
#include "viewer/window_size_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class WindowSizeStore : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_viewer_size_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string storeText() const {
        std::ifstream in(dir_ + "/vibrolane/registry.reg", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void store(const char* name, DWORD type, const std::vector<BYTE>& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, WindowSizeKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, bytes.data(), DWORD(bytes.size())), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static std::vector<BYTE> dword(DWORD v) {
        return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    }

    std::string dir_;
};

TEST_F(WindowSizeStore, FirstRunCreatesTheKeyAndKeepsTheDefaults) {
    DWORD width = 500, height = 375;
    ReadStoredWindowSize(&width, &height);
    EXPECT_EQ(width, 500u);
    EXPECT_EQ(height, 375u);
    EXPECT_NE(storeText().find("[HKEY_CURRENT_USER\\Software\\DirectX AppWizard Apps\\vibrolane]"), std::string::npos);
    EXPECT_EQ(storeText().find("Width"), std::string::npos);
}

TEST_F(WindowSizeStore, WrittenSizeIsReadBackNextTime) {
    WriteStoredWindowSize(640, 480);
    const std::string text = storeText();
    EXPECT_NE(text.find("\"Width\"=dword:00000280"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Height\"=dword:000001e0"), std::string::npos) << text;
    DWORD width = 500, height = 375;
    ReadStoredWindowSize(&width, &height);
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(height, 480u);
}

TEST_F(WindowSizeStore, EachStoredValueStandsOnItsOwn) {
    const struct {
        const char* what;
        DWORD type;
        std::vector<BYTE> width;  // empty: not stored
        std::vector<BYTE> height;
        DWORD expectedWidth, expectedHeight;
    } cases[] = {
        {"width alone", REG_DWORD, dword(800), {}, 800, 375},
        {"height alone", REG_DWORD, {}, dword(600), 500, 600},
        {"8-byte width", REG_QWORD, {0x20, 0x03, 0, 0, 0, 0, 0, 0}, dword(600), 500, 600},
        // The bytes count, whatever type they were stored with.
        {"binary dword", REG_BINARY, dword(1024), dword(768), 1024, 768},
        // A shorter value replaces only the default's low bytes: 0x01F4 -> 0x0320.
        {"2-byte width", REG_BINARY, {0x20, 0x03}, {}, 800, 375},
        {"smallest and largest", REG_DWORD, dword(100), dword(16384), 100, 16384},
        {"zero", REG_DWORD, dword(0), dword(0), 500, 375},
        {"just too small", REG_DWORD, dword(99), dword(99), 500, 375},
        {"just too large", REG_DWORD, dword(16385), dword(16385), 500, 375},
        {"negative", REG_DWORD, dword(0xFFFFFFFF), dword(0x80000000), 500, 375},
        {"one good, one bad", REG_DWORD, dword(1920), dword(70000), 1920, 375},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_ + "/vibrolane");
        if (!c.width.empty())
            store("Width", c.type, c.width);
        if (!c.height.empty())
            store("Height", c.type, c.height);
        DWORD width = 500, height = 375;
        ReadStoredWindowSize(&width, &height);
        EXPECT_EQ(width, c.expectedWidth);
        EXPECT_EQ(height, c.expectedHeight);
    }
}

TEST_F(WindowSizeStore, UnreadableStoreFallsBackAndIsNotOverwritten) {
    // A store in a place that is no directory: nothing can be read or written.
    setenv("XDG_CONFIG_HOME", (dir_ + "/file").c_str(), 1);
    std::ofstream(dir_ + "/file") << "not a directory";
    DWORD width = 500, height = 375;
    ReadStoredWindowSize(&width, &height);
    EXPECT_EQ(width, 500u);
    EXPECT_EQ(height, 375u);
    WriteStoredWindowSize(640, 480);
    std::ifstream in(dir_ + "/file");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "not a directory");
}

TEST_F(WindowSizeStore, DwordHelpers) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, WindowSizeKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    DWORD value = 1;
    EXPECT_EQ(ReadDwordValue(key, "Missing", &value, 42), E_FAIL);
    EXPECT_EQ(value, 42u);
    EXPECT_EQ(WriteDwordValue(key, "Width", 123456), S_OK);
    EXPECT_EQ(ReadDwordValue(key, "Width", &value, 42), S_OK);
    EXPECT_EQ(value, 123456u);  // the helper itself checks no range
    DWORD type = 0, size = sizeof value;
    ASSERT_EQ(RegQueryValueExA(key, "Width", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(size, 4u);
    RegCloseKey(key);
}

}  // namespace
