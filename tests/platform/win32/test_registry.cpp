#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "platform/win32/registry_internal.h"
#include "platform/win32/winreg.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppKey = "Software\\DirectX AppWizard Apps\\vibrolane";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vl_registry_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        store_ = platform::registry::storePath();
    }
    void TearDown() override {
        platform::registry::setBeforeRenameHook(nullptr);
        fs::remove_all(dir_);
    }

    void writeStore(const std::string& text) {
        fs::create_directories(fs::path(store_).parent_path());
        std::ofstream(store_, std::ios::binary) << text;
    }
    std::string readStore() const {
        std::ifstream in(store_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    HKEY openApp(DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, disposition),
                  ERROR_SUCCESS);
        return key;
    }
    LSTATUS setDword(HKEY key, const char* name, DWORD value) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    // The value's bytes, or "<missing>".
    std::string query(HKEY key, const char* name, DWORD* type = nullptr) {
        BYTE buffer[4096];
        DWORD size = sizeof buffer;
        if (RegQueryValueExA(key, name, nullptr, type, buffer, &size) != ERROR_SUCCESS)
            return "<missing>";
        return std::string(reinterpret_cast<char*>(buffer), size);
    }
    static std::string dwordBytes(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

    std::string dir_;
    std::string store_;
};

TEST_F(RegistryTest, StoreLivesUnderXdgConfigHomeOrHome) {
    EXPECT_EQ(store_, dir_ + "/vibrolane/registry.reg");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
    setenv("HOME", dir_.c_str(), 1);
    EXPECT_EQ(platform::registry::storePath(), dir_ + "/.config/vibrolane/registry.reg");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(platform::registry::storePath(), dir_ + "/.config/vibrolane/registry.reg");
}

TEST_F(RegistryTest, ReadingCreatesTheMissingKeyAndFindsNoValues) {
    DWORD disposition = 0;
    HKEY key = openApp(&disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, "Width", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(readStore().find("[HKEY_CURRENT_USER\\Software\\DirectX AppWizard Apps\\vibrolane]\n"),
              std::string::npos);

    key = openApp(&disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
}

TEST_F(RegistryTest, ValuesSurviveCloseAndReopenInTheExportForm) {
    HKEY key = openApp();
    ASSERT_EQ(setDword(key, "Width", 500), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, "Height", 375), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, "Width", 640), ERROR_SUCCESS);  // replaces
    RegCloseKey(key);

    std::string text = readStore();
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("\"Width\"=dword:00000280\n"), std::string::npos);
    EXPECT_NE(text.find("\"Height\"=dword:00000177\n"), std::string::npos);
    EXPECT_EQ(text.find("Width", text.find("Width") + 1), std::string::npos);

    key = openApp();
    DWORD type = 0;
    EXPECT_EQ(query(key, "Width", &type), dwordBytes(640));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(query(key, "HEIGHT"), dwordBytes(375));  // names ignore case
    RegCloseKey(key);
}

TEST_F(RegistryTest, EveryTypeAndByteRoundTrips) {
    HKEY key = openApp();
    const std::string text("say \"hi\" \\ there", 17);  // with its terminator
    const std::string latin("caf\xe9 \n\t", 8);
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary.push_back(static_cast<char>(i));
    const std::string shortDword("\x01\x02", 2);
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    } cases[] = {{"Text", REG_SZ, text},           {"Latin", REG_SZ, latin},
                 {"Unterminated", REG_SZ, "abc"},  {"Binary", REG_BINARY, binary},
                 {"Empty", REG_BINARY, ""},        {"Short", REG_DWORD, shortDword},
                 {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
                 {"Odd \"name\"\x01", 0x1234, "x"}, {"", REG_SZ, std::string("default", 8)}};
    for (const Case& c : cases)
        ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                 static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS)
            << c.name;
    RegCloseKey(key);

    key = openApp();
    for (const Case& c : cases) {
        DWORD type = 0;
        EXPECT_EQ(query(key, c.name, &type), c.data) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    EXPECT_EQ(query(key, nullptr), std::string("default", 8));
    RegCloseKey(key);
}

TEST_F(RegistryTest, QueryReportsSizesAndRefusesShortBuffers) {
    HKEY key = openApp();
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(RegSetValueExA(key, "Width", 0, REG_BINARY, eight, 8), ERROR_SUCCESS);

    DWORD value = 500, size = sizeof value, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Width", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(value, 500u);  // untouched

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Width", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(RegQueryValueExA(key, "Width", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), nullptr),
              ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegDeleteValueA(key, "width"), ERROR_SUCCESS);
    EXPECT_EQ(query(key, "Width"), "<missing>");
    EXPECT_EQ(RegDeleteValueA(key, "Width"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesAndNamesAreChecked) {
    HKEY key = openApp();
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(setDword(key, "Width", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);

    HKEY other = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\\\double", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &other,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\line\nbreak", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &other, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nowhere", 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);

    // A subkey of an open key lands under it, with its parents listed.
    key = openApp();
    ASSERT_EQ(RegCreateKeyExA(key, "Input\\Maps", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\DirectX AppWizard Apps\\VIBROLANE\\input", 0, KEY_READ,
                            &other),
              ERROR_SUCCESS);
    RegCloseKey(other);
    EXPECT_NE(readStore().find("[HKEY_CURRENT_USER\\Software]\n"), std::string::npos);
}

const char* const kValidStore =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\DirectX AppWizard Apps\\vibrolane]\r\n"
    "\"Width\"=dword:00000320\r\n"
    "\"Title\"=\"a \\\"quoted\\\" \\\\ title\"\r\n"
    "\"Blob\"=hex:01,02,\\\r\n  03,04\r\n"
    "\"Typed\"=hex(7):61,00,00\r\n"
    "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    "@=\"default\"\r\n";

TEST_F(RegistryTest, ReadsTheEditorsOwnExportForms) {
    writeStore(kValidStore);
    HKEY key = openApp();
    DWORD type = 0;
    EXPECT_EQ(query(key, "Width"), dwordBytes(800));
    EXPECT_EQ(query(key, "Title"), std::string("a \"quoted\" \\ title", 19));
    EXPECT_EQ(query(key, "Blob", &type), "\x01\x02\x03\x04");
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(query(key, "Typed", &type), std::string("a\0\0", 3));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    RegCloseKey(key);

    // UTF-16 with a byte-order mark, as the registry editor writes it.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\DirectX "
                              "AppWizard Apps\\vibrolane]\r\n\"Caf\xe9\"=dword:00000007\r\n")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    writeStore(utf16);
    key = openApp();
    EXPECT_EQ(query(key, "Caf\xe9"), dwordBytes(7));
    RegCloseKey(key);
}

TEST_F(RegistryTest, TheEmptyNameIsTheDefaultValueWrittenAsAnAt) {
    HKEY key = openApp();
    const std::string text("default", 8);
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()), DWORD(text.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, "Width", 5), ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string store = readStore();
    EXPECT_NE(store.find("\n@=\"default\"\n"), std::string::npos) << store;
    EXPECT_EQ(store.find("\"\"="), std::string::npos) << "never an empty quoted name: " << store;

    key = openApp();
    EXPECT_EQ(query(key, ""), text) << "a null name and an empty one are the same value";
    EXPECT_EQ(query(key, nullptr), text);
    EXPECT_EQ(RegDeleteValueA(key, ""), ERROR_SUCCESS);
    EXPECT_EQ(query(key, nullptr), "<missing>");
    EXPECT_EQ(query(key, "Width"), dwordBytes(5));
    RegCloseKey(key);

    // An empty quoted name names nothing: that line is skipped, not taken
    // for the default value, and the lines around it are read.
    writeStore(std::string("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\") + kAppKey +
               "]\n@=\"real\"\n\"\"=\"stray\"\n\"Width\"=dword:00000009\n");
    key = openApp();
    EXPECT_EQ(query(key, nullptr), std::string("real", 5));
    EXPECT_EQ(query(key, "Width"), dwordBytes(9));
    RegCloseKey(key);
}

class HostileStoreTest : public RegistryTest {
protected:
    std::map<std::string, std::string> visible(HKEY key) {
        std::map<std::string, std::string> out;
        for (const char* name : {"Width", "Title", "Blob", "Typed", "Height"})
            out[name] = query(key, name);
        return out;
    }
    // The hostile text must not crash anything, and whatever could be read
    // from it must still be there after a write of another value.
    void checkSurvives(const std::string& text, const std::string& label) {
        writeStore(text);
        HKEY key = nullptr;
        LSTATUS opened =
            RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (opened != ERROR_SUCCESS) {
            EXPECT_EQ(readStore(), text) << label;
            return;
        }
        auto before = visible(key);
        LSTATUS written = setDword(key, "Fresh", 42);
        auto after = visible(key);
        if (written == ERROR_SUCCESS) {
            EXPECT_EQ(before, after) << label;
            EXPECT_EQ(query(key, "Fresh"), dwordBytes(42)) << label;
        } else {
            EXPECT_EQ(readStore(), text) << label;
        }
        RegCloseKey(key);
    }
};

TEST_F(HostileStoreTest, CraftedContentReadsAsMissingAndKeepsTheRest) {
    const std::string valid = kValidStore;
    std::string binary;
    std::mt19937 rng(7);
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>(rng()));
    const std::string cases[] = {
        "",
        std::string("\0\0\0\0", 4) + valid,
        binary,
        binary + "\n" + valid + binary,
        valid.substr(0, valid.size() / 2),
        valid.substr(0, valid.find("dword:") + 10),  // cut inside the number
        std::string(1 << 20, '[') + "\n" + valid,
        "[HKEY_CURRENT_USER\\Software\\DirectX AppWizard Apps\\vibrolane]\n\"Width\"=dword:zzzzzzzz\n"
        "\"Title\"=\"unterminated\n\"Blob\"=hex:0g\n\"Typed\"=hex(123456789):00\n\"Height\"=hex(4):01\n"
        "\"\\q\"=dword:00000001\n@=-\n\"Width\"=dword:0000000100\n",
        "[HKEY_CURRENT_USER\\\\]\n\"Width\"=dword:00000001\n[-HKEY_CURRENT_USER\\x]\n\"Width\"=dword:00000002\n"
        "[HKEY_BOGUS\\Software]\n\"Width\"=dword:00000003\n[\n]\n[]\n" + valid,
        valid + "\"Blob\"=hex:ff,\\",  // continuation at the very end
        "\xFF\xFE",                     // a lone UTF-16 mark
        "\xFF\xFE\x41",
    };
    int n = 0;
    for (const std::string& text : cases)
        checkSurvives(text, "case " + std::to_string(n++));

    // Where the value did parse, it parsed right.
    writeStore(cases[7]);
    HKEY key = openApp();
    EXPECT_EQ(query(key, "Width"), "<missing>");
    EXPECT_EQ(query(key, "Height"), "\x01");
    RegCloseKey(key);
    writeStore(cases[5]);
    key = openApp();
    EXPECT_EQ(query(key, "Width"), "<missing>");
    RegCloseKey(key);
}

TEST_F(HostileStoreTest, RandomMutationsNeverCrashOrLoseReadableValues) {
    std::mt19937 rng(20261208);
    const std::string valid = kValidStore;
    for (int round = 0; round < 400; ++round) {
        std::string text = valid;
        int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            std::size_t at = rng() % text.size();
            switch (rng() % 4) {
            case 0:
                text[at] = static_cast<char>(rng());
                break;
            case 1:
                text.insert(at, 1 + rng() % 4, static_cast<char>("\"\\[]=\n:,\0"[rng() % 9]));
                break;
            case 2:
                text.erase(at, 1 + rng() % 16);
                break;
            default:
                text.resize(at);
                break;
            }
        }
        checkSurvives(text, "round " + std::to_string(round));
    }
}

TEST_F(HostileStoreTest, AnOversizedOrUnreadableStoreIsNeverOverwritten) {
    std::string huge = kValidStore;
    huge.append(platform::registry::kMaxStoreBytes, ';');
    writeStore(huge);
    HKEY key = nullptr;
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(fs::file_size(store_), huge.size());

    // A key opened before the store grew too large cannot write over it either.
    fs::remove(store_);
    key = openApp();
    writeStore(huge);
    EXPECT_EQ(query(key, "Width"), "<missing>");
    EXPECT_NE(setDword(key, "Width", 1), ERROR_SUCCESS);
    EXPECT_EQ(fs::file_size(store_), huge.size());
    RegCloseKey(key);

    // A directory where the file should be.
    fs::remove(store_);
    fs::create_directories(store_);
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_TRUE(fs::is_directory(store_));
}

TEST_F(HostileStoreTest, ALargeValidStoreIsKeptWhole) {
    std::string hex = "00";
    for (int i = 1; i < 40; ++i)
        hex += ",00";
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Bulk]\n";
    for (int i = 0; i < 50000; ++i)
        text += "\"v" + std::to_string(i) + "\"=hex:" + hex + "\n";
    writeStore(text);
    HKEY key = openApp();
    ASSERT_EQ(setDword(key, "Width", 9), ERROR_SUCCESS);
    RegCloseKey(key);
    HKEY bulk = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Bulk", 0, KEY_READ, &bulk), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(bulk, "v49999", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 40u);
    RegCloseKey(bulk);
}

TEST_F(RegistryTest, AWriteInterruptedBeforeTheRenameLeavesTheOldStore) {
    HKEY key = openApp();
    ASSERT_EQ(setDword(key, "Width", 500), ERROR_SUCCESS);
    const std::string before = readStore();

    std::string leftOver;
    platform::registry::setBeforeRenameHook([&](const std::string& temporary) {
        leftOver = temporary;
        return false;
    });
    EXPECT_NE(setDword(key, "Width", 640), ERROR_SUCCESS);
    EXPECT_EQ(readStore(), before);
    EXPECT_EQ(query(key, "Width"), dwordBytes(500));
    ASSERT_FALSE(leftOver.empty());
    EXPECT_NE(leftOver, store_);
    EXPECT_TRUE(fs::exists(leftOver));  // the half-done write, never the store itself

    platform::registry::setBeforeRenameHook(nullptr);
    EXPECT_EQ(setDword(key, "Width", 640), ERROR_SUCCESS);
    EXPECT_EQ(query(key, "Width"), dwordBytes(640));
    RegCloseKey(key);
}

TEST_F(RegistryTest, AStoreThatCannotBeWrittenIsSaidOnceAndFailsEveryWrite) {
    // A folder where the new text would go: the store cannot be replaced
    // (even for root, who may write anywhere else).
    writeStore("Windows Registry Editor Version 5.00\n");
    fs::create_directories(store_ + ".tmp." + std::to_string(getpid()));
    ::testing::internal::CaptureStderr();
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_CANTWRITE);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "vibrolane: cannot write the settings file " + store_ +
                        ": Is a directory; the changes are not kept\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_CANTWRITE);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "said once";
    EXPECT_EQ(readStore(), "Windows Registry Editor Version 5.00\n") << "the old store stays whole";
}

TEST_F(RegistryTest, ChangesByAnotherWriterAreKept) {
    HKEY key = openApp();
    ASSERT_EQ(setDword(key, "Width", 500), ERROR_SUCCESS);
    // Someone else edits the file between our calls.
    std::string text = readStore();
    text += "[HKEY_CURRENT_USER\\Software\\Elsewhere]\n\"Mine\"=dword:00000005\n";
    writeStore(text);
    ASSERT_EQ(setDword(key, "Height", 375), ERROR_SUCCESS);
    EXPECT_NE(readStore().find("\"Mine\"=dword:00000005"), std::string::npos);
    EXPECT_EQ(query(key, "Width"), dwordBytes(500));
    RegCloseKey(key);
}

}  // namespace
