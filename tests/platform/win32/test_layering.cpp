// The layering of the source tree, read from the include lines: the layer
// knows nothing of the program above it, and the program sees Qt, SDL and
// OpenGL only through the layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Include {
    std::string file;  // relative to the source tree
    int line;
    std::string target;
};

// The name in an include line (#include <name> or "name"), or empty.
std::string includedName(const std::string& line) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] != '#')
        return {};
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line.compare(at, 7, "include") != 0)
        return {};
    at = line.find_first_not_of(" \t", at + 7);
    if (at == std::string::npos || (line[at] != '<' && line[at] != '"'))
        return {};
    const std::size_t end = line.find(line[at] == '<' ? '>' : '"', at + 1);
    return end == std::string::npos ? std::string() : line.substr(at + 1, end - at - 1);
}

// Every #include of every source and header below folder (absent: none).
std::vector<Include> includesBelow(const std::string& folder) {
    const fs::path root(VL_SOURCE_DIR);
    std::vector<Include> found;
    if (!fs::is_directory(root / folder))
        return found;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp"))
            continue;
        std::ifstream in(entry.path());
        std::string text;
        for (int number = 1; std::getline(in, text); ++number)
            if (const std::string name = includedName(text); !name.empty())
                found.push_back({fs::relative(entry.path(), root).string(), number, name});
    }
    return found;
}

bool startsWithAny(const std::string& text, const std::vector<std::string>& prefixes) {
    for (const std::string& p : prefixes)
        if (text.rfind(p, 0) == 0)
            return true;
    return false;
}

const std::vector<std::string> kProgramFolders = {"core/", "math/", "startup/", "framework/", "viewer/", "resources/"};
const std::vector<std::string> kGuiLibraries = {"Q", "qopengl", "SDL", "GL/", "EGL/", "KHR/"};

}  // namespace

TEST(Layering, IncludeLinesFollowTheLayers) {
    struct Rule {
        const char* folder;
        std::vector<std::string> forbidden;
        const char* why;
    };
    const Rule rules[] = {
        {"platform", kProgramFolders, "the layer stands below the program; the program fills its forms"},
        {"core", kGuiLibraries, "only platform/ sees Qt, SDL and OpenGL"},
        {"core", {"platform/"}, "the numerical core is plain C++"},
        {"math", kGuiLibraries, "only platform/ sees Qt, SDL and OpenGL"},
        {"startup", kGuiLibraries, "only platform/ sees Qt, SDL and OpenGL"},
        {"framework", kGuiLibraries, "only platform/ sees Qt, SDL and OpenGL"},
        {"viewer", kGuiLibraries, "only platform/ sees Qt, SDL and OpenGL"},
        {"resources", kGuiLibraries, "only platform/ sees Qt, SDL and OpenGL"},
    };
    for (const Rule& rule : rules)
        for (const Include& include : includesBelow(rule.folder))
            EXPECT_FALSE(startsWithAny(include.target, rule.forbidden))
                << include.file << ":" << include.line << " includes " << include.target << ": " << rule.why;
}

// The scan above must see the lines it judges: the folders that exist on
// every branch are read, and the two sides of the resource hand-over show
// up where they belong.
TEST(Layering, TheScanSeesTheResourceHandOver) {
    auto includes = [](const std::string& folder, const std::string& file, const std::string& target) {
        for (const Include& i : includesBelow(folder))
            if (i.file == file && i.target == target)
                return true;
        return false;
    };
    EXPECT_TRUE(includes("platform", "platform/win32/ui_internal.h", "platform/win32/resource_templates.h"));
    EXPECT_TRUE(includes("resources", "resources/resource_script.h", "platform/win32/resource_templates.h"));
    EXPECT_TRUE(includes("platform", "platform/win32/gui.cpp", "QApplication"));
    EXPECT_TRUE(includesBelow("no-such-folder").empty());
}

TEST(Layering, IncludeLinesAreReadAsThePreprocessorDoes) {
    const struct {
        const char* line;
        const char* name;
    } cases[] = {
        {"#include <QString>", "QString"},
        {"#include \"resources/resource.h\"", "resources/resource.h"},
        {"  #  include\t<SDL.h>  // the game controllers", "SDL.h"},
        {"// #include <QWidget>", ""},
        {"#pragma once", ""},
        {"#include", ""},
        {"#include <unterminated", ""},
        {"    const char* s = \"#include <QWidget>\";", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(includedName(c.line), c.name) << c.line;
}
