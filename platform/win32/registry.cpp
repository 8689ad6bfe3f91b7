// The registry on a text file in the registry editor's export form:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\DirectX AppWizard Apps\vibrolane]
//   "Width"=dword:000001f4
//   "Title"="text"
//   "Blob"=hex:01,02,03
//   "Other"=hex(7):61,00,00
//
// Key and value names compare without regard to ASCII case, as on the
// original platform. Strings are written quoted only when that loses nothing
// (printable ASCII with one terminator); anything else is written as hex with
// its type, so every value survives a round trip byte for byte.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/win32/registry_internal.h"
#include "platform/win32/winreg.h"

struct HKEY__ {
    std::string path;  // full path, root name first
};

namespace platform::registry {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::size_t kMaxNameLength = 255;

struct Value {
    std::string name;  // empty for the default value
    DWORD type = REG_NONE;
    std::string data;
};

// Stores keep the file's order; the indexes map case-folded names to positions.
struct Key {
    std::string path;
    std::vector<Value> values;
    std::unordered_map<std::string, std::size_t> index;
};

struct Store {
    std::vector<Key> keys;
    std::unordered_map<std::string, std::size_t> index;
};

enum class LoadState { Loaded, Unreadable };

std::mutex storeMutex;
std::unordered_set<HKEY__*> openKeys;
BeforeRenameHook beforeRename;

char foldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string folded(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = foldCase(c);
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

const char* rootName(HKEY key) {
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (key == HKEY_USERS)
        return "HKEY_USERS";
    return nullptr;
}

bool isRootName(std::string_view name) {
    return sameName(name, "HKEY_CURRENT_USER") || sameName(name, "HKEY_LOCAL_MACHINE") ||
           sameName(name, "HKEY_CLASSES_ROOT") || sameName(name, "HKEY_USERS");
}

// The path a handle stands for, or nothing for a handle that is not open.
std::optional<std::string> pathOf(HKEY key) {
    if (const char* root = rootName(key))
        return std::string(root);
    if (openKeys.count(key) != 0)
        return key->path;
    return std::nullopt;
}

bool validComponent(std::string_view part) {
    if (part.empty() || part.size() > kMaxNameLength)
        return false;
    for (char c : part)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('\\', start);
        parts.emplace_back(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

Key* findKey(Store& store, std::string_view path) {
    auto it = store.index.find(folded(path));
    return it == store.index.end() ? nullptr : &store.keys[it->second];
}

Value* findValue(Key& key, std::string_view name) {
    auto it = key.index.find(folded(name));
    return it == key.index.end() ? nullptr : &key.values[it->second];
}

void putValue(Key& key, Value value) {
    if (Value* existing = findValue(key, value.name)) {
        *existing = std::move(value);
        return;
    }
    key.index.emplace(folded(value.name), key.values.size());
    key.values.push_back(std::move(value));
}

void removeValue(Key& key, std::string_view name) {
    std::erase_if(key.values, [&](const Value& v) { return sameName(v.name, name); });
    key.index.clear();
    for (std::size_t i = 0; i < key.values.size(); ++i)
        key.index.emplace(folded(key.values[i].name), i);
}

// Adds the key and its missing parents (not the root); true when any was new.
bool ensureKey(Store& store, const std::string& path) {
    bool created = false;
    std::vector<std::string> parts = splitPath(path);
    std::string prefix = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i) {
        prefix += '\\';
        prefix += parts[i];
        if (findKey(store, prefix) == nullptr) {
            store.index.emplace(folded(prefix), store.keys.size());
            store.keys.push_back(Key{prefix, {}, {}});
            created = true;
        }
    }
    return created;
}

// ---- Reading ---------------------------------------------------------------

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void skipBlanks(std::string_view s, std::size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
}

// A quoted text starting at s[i] == '"', with the escapes \\, \" and \xHH.
std::optional<std::string> parseQuoted(std::string_view s, std::size_t& i) {
    if (i >= s.size() || s[i] != '"')
        return std::nullopt;
    std::string out;
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return out;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= s.size())
            return std::nullopt;
        if (s[i] == '\\' || s[i] == '"') {
            out.push_back(s[i]);
        } else if (s[i] == 'x' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2])));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Bytes written as "01,ab,ff" (blanks and a trailing comma allowed).
std::optional<std::string> parseHexList(std::string_view s) {
    std::string out;
    std::size_t i = 0;
    skipBlanks(s, i);
    while (i < s.size()) {
        if (i + 1 >= s.size() || hexDigit(s[i]) < 0 || hexDigit(s[i + 1]) < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(hexDigit(s[i]) * 16 + hexDigit(s[i + 1])));
        i += 2;
        skipBlanks(s, i);
        if (i < s.size()) {
            if (s[i] != ',')
                return std::nullopt;
            ++i;
            skipBlanks(s, i);
        }
    }
    return out;
}

// One value line; nothing when it does not parse.
std::optional<Value> parseValueLine(std::string_view line) {
    Value value;
    std::size_t i = 0;
    if (line[0] == '@') {
        i = 1;
    } else {
        auto name = parseQuoted(line, i);
        if (!name || name->empty() || name->size() > 16383)
            return std::nullopt;
        value.name = std::move(*name);
    }
    skipBlanks(line, i);
    if (i >= line.size() || line[i] != '=')
        return std::nullopt;
    ++i;
    skipBlanks(line, i);
    std::string_view data = line.substr(i);
    while (!data.empty() && (data.back() == ' ' || data.back() == '\t'))
        data.remove_suffix(1);

    if (!data.empty() && data[0] == '"') {
        std::size_t j = 0;
        auto text = parseQuoted(data, j);
        if (!text || j != data.size())
            return std::nullopt;
        value.type = REG_SZ;
        value.data = std::move(*text);
        value.data.push_back('\0');
        return value;
    }
    if (data.substr(0, 6) == "dword:") {
        // Always eight digits in the export form; fewer is a cut-off line.
        std::string_view digits = data.substr(6);
        if (digits.size() != 8)
            return std::nullopt;
        DWORD n = 0;
        for (char c : digits) {
            if (hexDigit(c) < 0)
                return std::nullopt;
            n = n * 16 + static_cast<DWORD>(hexDigit(c));
        }
        value.type = REG_DWORD;
        for (int b = 0; b < 4; ++b)
            value.data.push_back(static_cast<char>((n >> (8 * b)) & 0xFF));
        return value;
    }
    if (data.substr(0, 4) == "hex:") {
        auto bytes = parseHexList(data.substr(4));
        if (!bytes)
            return std::nullopt;
        value.type = REG_BINARY;
        value.data = std::move(*bytes);
        return value;
    }
    if (data.substr(0, 4) == "hex(") {
        std::size_t close = data.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12)
            return std::nullopt;
        DWORD type = 0;
        for (char c : data.substr(4, close - 4)) {
            if (hexDigit(c) < 0)
                return std::nullopt;
            type = type * 16 + static_cast<DWORD>(hexDigit(c));
        }
        auto bytes = parseHexList(data.substr(close + 2));
        if (!bytes)
            return std::nullopt;
        value.type = type;
        value.data = std::move(*bytes);
        return value;
    }
    return std::nullopt;  // includes "-", the export form's deletion mark
}

// The key path of a section line, or nothing for a deletion section or a
// malformed one; either way its values are skipped.
std::optional<std::string> parseSectionLine(std::string_view line) {
    if (line.size() < 2 || line.back() != ']')
        return std::nullopt;
    std::string_view path = line.substr(1, line.size() - 2);
    if (path.empty() || path[0] == '-')
        return std::nullopt;
    std::vector<std::string> parts = splitPath(path);
    if (!isRootName(parts[0]))
        return std::nullopt;
    for (const std::string& part : parts)
        if (!validComponent(part))
            return std::nullopt;
    return std::string(path);
}

// Registry editor exports are UTF-16; their text is brought to the program's
// 8-bit code page, and what it cannot hold becomes '?' like any other
// conversion to it.
std::string fromUtf16Export(std::string_view bytes) {
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    if (wide.empty())
        return {};
    std::string narrow(wide.size(), '\0');
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(),
                                static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return narrow;
}

// The line that starts at pos without its line end, either kind; pos moves
// to the start of the next.
std::string_view nextLine(std::string_view text, std::size_t& pos) {
    std::size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

Store parseStore(std::string_view text) {
    Store store;
    std::string converted;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE) {
        converted = fromUtf16Export(text);
        text = converted;
    } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }

    Key* current = nullptr;
    std::size_t pos = 0;
    std::string logical;
    while (pos < text.size()) {
        std::string_view line = nextLine(text, pos);

        // Long hex values may continue on the next lines after a backslash.
        logical.assign(line);
        while (!logical.empty() && logical.back() == '\\' && logical.find("=hex") != std::string::npos &&
               pos < text.size()) {
            logical.pop_back();
            logical.append(nextLine(text, pos));
        }
        std::string_view l = logical;
        while (!l.empty() && (l.front() == ' ' || l.front() == '\t'))
            l.remove_prefix(1);
        if (l.empty() || l[0] == ';')
            continue;

        if (l[0] == '[') {
            current = nullptr;
            if (auto path = parseSectionLine(l)) {
                ensureKey(store, *path);
                current = findKey(store, *path);
            }
            continue;
        }
        if (current == nullptr || (l[0] != '"' && l[0] != '@'))
            continue;
        if (auto value = parseValueLine(l))
            putValue(*current, std::move(*value));
    }
    return store;
}

std::string configDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/vibrolane";
    const char* home = std::getenv("HOME");
    std::string base;
    if (home != nullptr && home[0] == '/') {
        base = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') {
        base = pw->pw_dir;
    } else {
        return {};
    }
    return base + "/.config/vibrolane";
}

LoadState loadStore(Store& store) {
    store = Store{};
    std::string path = storePath();
    if (path.empty())
        return LoadState::Unreadable;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? LoadState::Loaded : LoadState::Unreadable;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > kMaxStoreBytes) {
        ::close(fd);
        return LoadState::Unreadable;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxStoreBytes) {
            ::close(fd);
            return LoadState::Unreadable;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    store = parseStore(text);
    return LoadState::Loaded;
}

// ---- Writing ---------------------------------------------------------------

void appendQuoted(std::string& out, std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out.push_back('\\');
            out.push_back(c);
        } else if (b < 0x20 || b >= 0x7F) {
            out += "\\x";
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

bool plainString(const Value& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != '\0')
        return false;
    for (std::size_t i = 0; i + 1 < v.data.size(); ++i) {
        auto b = static_cast<unsigned char>(v.data[i]);
        if (b < 0x20 || b >= 0x7F)
            return false;
    }
    return true;
}

std::string serialize(const Store& store) {
    static const char digits[] = "0123456789abcdef";
    std::string out(kHeader);
    out += "\n\n";
    for (const Key& key : store.keys) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const Value& v : key.values) {
            if (v.name.empty())
                out.push_back('@');
            else
                appendQuoted(out, v.name);
            out.push_back('=');
            if (plainString(v)) {
                appendQuoted(out, std::string_view(v.data).substr(0, v.data.size() - 1));
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                DWORD n = 0;
                for (int b = 3; b >= 0; --b)
                    n = (n << 8) | static_cast<unsigned char>(v.data[static_cast<std::size_t>(b)]);
                char text[16];
                std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(n));
                out += text;
            } else {
                if (v.type == REG_BINARY) {
                    out += "hex:";
                } else {
                    char text[24];
                    std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(v.type));
                    out += text;
                }
                for (std::size_t i = 0; i < v.data.size(); ++i) {
                    auto b = static_cast<unsigned char>(v.data[i]);
                    if (i > 0)
                        out.push_back(',');
                    out.push_back(digits[b >> 4]);
                    out.push_back(digits[b & 15]);
                }
            }
            out.push_back('\n');
        }
        out.push_back('\n');
    }
    return out;
}

bool makeDirectories(const std::string& dir) {
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = dir.find('/', slash + 1);
        std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;  // a file stands where the folder should be
        return false;
    }
    return true;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// `error` gets the cause of a failure (an errno value, 0 when none applies).
LSTATUS writeStore(const Store& store, const std::string& path, int& error) {
    error = 0;
    std::string text = serialize(store);
    if (text.size() > kMaxStoreBytes)
        return ERROR_CANTWRITE;
    if (path.empty() || !makeDirectories(path.substr(0, path.rfind('/')))) {
        error = errno;
        return ERROR_CANTWRITE;
    }

    std::string temporary = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
        return ERROR_CANTWRITE;
    }
    bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (!written) {
        error = errno;
        ::unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    if (beforeRename && !beforeRename(temporary))
        return ERROR_CANTWRITE;
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// The old file stays whole when a write fails (the new text never replaces
// it half-written), but what the program meant to keep is lost: the user
// hears of it once, on standard error.
LSTATUS saveStore(const Store& store) {
    // Once per file: the values written one after the other at shut-down
    // fail for the same reason.
    static std::string said;
    const std::string path = storePath();
    int error = 0;
    const LSTATUS status = writeStore(store, path, error);
    if (status != ERROR_SUCCESS && said != path) {
        said = path;
        std::fprintf(stderr, "vibrolane: cannot write the settings file %s%s%s; the changes are not kept\n",
                     path.empty() ? "(no home folder)" : path.c_str(), error ? ": " : "",
                     error ? std::strerror(error) : "");
        std::fflush(stderr);
    }
    return status;
}

// The full path of subKey under key; nothing when the name is not acceptable.
std::optional<std::string> joinPath(const std::string& base, LPCSTR subKey) {
    if (subKey == nullptr || subKey[0] == '\0')
        return base;
    std::string path = base;
    for (const std::string& part : splitPath(subKey)) {
        if (!validComponent(part))
            return std::nullopt;
        path += '\\';
        path += part;
    }
    return path;
}

// The key a create or open names, with the caller's handle cleared first; a
// name that is not acceptable fails with badName.
LSTATUS namedPath(HKEY key, LPCSTR subKey, HKEY* result, LSTATUS badName, std::string& path) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    auto base = pathOf(key);
    if (!base)
        return ERROR_INVALID_HANDLE;
    auto joined = joinPath(*base, subKey);
    if (!joined)
        return badName;
    path = std::move(*joined);
    return ERROR_SUCCESS;
}

LSTATUS openHandle(const std::string& path, HKEY* result) {
    auto* key = new (std::nothrow) HKEY__{path};
    if (key == nullptr)
        return ERROR_OUTOFMEMORY;
    openKeys.insert(key);
    *result = key;
    return ERROR_SUCCESS;
}

}  // namespace

std::string storePath() {
    std::string dir = configDirectory();
    return dir.empty() ? dir : dir + "/registry.reg";
}

void setBeforeRenameHook(BeforeRenameHook hook) {
    std::lock_guard<std::mutex> lock(storeMutex);
    beforeRename = std::move(hook);
}

}  // namespace platform::registry

using namespace platform::registry;

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                               HKEY* result, LPDWORD disposition) {
    std::lock_guard<std::mutex> lock(storeMutex);
    std::string path;
    if (LSTATUS status = namedPath(key, subKey, result, ERROR_INVALID_PARAMETER, path); status != ERROR_SUCCESS)
        return status;

    Store store;
    if (loadStore(store) != LoadState::Loaded)
        return ERROR_REGISTRY_IO_FAILED;
    bool created = ensureKey(store, path);
    if (created) {
        if (LSTATUS status = saveStore(store); status != ERROR_SUCCESS)
            return status;
    }
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return openHandle(path, result);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, HKEY* result) {
    std::lock_guard<std::mutex> lock(storeMutex);
    std::string path;
    if (LSTATUS status = namedPath(key, subKey, result, ERROR_FILE_NOT_FOUND, path); status != ERROR_SUCCESS)
        return status;
    if (path.find('\\') != std::string::npos) {
        Store store;
        if (loadStore(store) != LoadState::Loaded || findKey(store, path) == nullptr)
            return ERROR_FILE_NOT_FOUND;
    }
    return openHandle(path, result);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    std::lock_guard<std::mutex> lock(storeMutex);
    auto path = pathOf(key);
    if (!path)
        return ERROR_INVALID_HANDLE;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    Store store;
    if (loadStore(store) != LoadState::Loaded)
        return ERROR_FILE_NOT_FOUND;
    Key* k = findKey(store, *path);
    Value* v = k != nullptr ? findValue(*k, valueName != nullptr ? valueName : "") : nullptr;
    if (v == nullptr)
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = v->type;
    auto size = static_cast<DWORD>(v->data.size());
    if (data != nullptr) {
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, v->data.data(), size);
    }
    if (dataSize != nullptr)
        *dataSize = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    std::lock_guard<std::mutex> lock(storeMutex);
    auto path = pathOf(key);
    if (!path)
        return ERROR_INVALID_HANDLE;
    if ((data == nullptr && dataSize != 0) || dataSize > kMaxStoreBytes)
        return ERROR_INVALID_PARAMETER;
    std::string name = valueName != nullptr ? valueName : "";
    if (name.size() > 16383)
        return ERROR_INVALID_PARAMETER;
    if (path->find('\\') == std::string::npos)
        return ERROR_ACCESS_DENIED;  // values directly under a root are not kept

    Store store;
    if (loadStore(store) != LoadState::Loaded)
        return ERROR_REGISTRY_IO_FAILED;
    // Another program may have removed the key since it was opened.
    ensureKey(store, *path);
    Key* k = findKey(store, *path);
    putValue(*k, Value{name, type, std::string(reinterpret_cast<const char*>(data), dataSize)});
    return saveStore(store);
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
    std::lock_guard<std::mutex> lock(storeMutex);
    auto path = pathOf(key);
    if (!path)
        return ERROR_INVALID_HANDLE;
    Store store;
    if (loadStore(store) != LoadState::Loaded)
        return ERROR_REGISTRY_IO_FAILED;
    Key* k = findKey(store, *path);
    std::string name = valueName != nullptr ? valueName : "";
    if (k == nullptr || findValue(*k, name) == nullptr)
        return ERROR_FILE_NOT_FOUND;
    removeValue(*k, name);
    return saveStore(store);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    std::lock_guard<std::mutex> lock(storeMutex);
    if (rootName(key) != nullptr)
        return ERROR_SUCCESS;
    if (openKeys.erase(key) == 0)
        return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
