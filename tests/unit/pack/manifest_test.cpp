#include "tools/pack/cli/Manifest.h"
#include "tools/pack/ToolError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Manifest, ReadsFieldsAndShortcuts)
{
    Manifest m = ParseManifest(
        "\xEF\xBB\xBF; example\r\n"
        "[Package]\r\n"
        "productname = Example Viewer 2.0\r\n"
        "InstallFolder=Example\\Viewer\r\n"
        "ShortName=\"  padded  \"\r\n"
        "MakeUninstaller=1\r\n"
        "\r\n"
        "[Shortcuts]\n"
        "# comment\n"
        "Example Viewer=viewer.exe\n"
        "Read me = readme.txt\n"
        "[package]\n"
        "GuiLibrary=gui.dll");
    EXPECT_EQ(m.fields.at("ProductName"), "Example Viewer 2.0");
    EXPECT_EQ(m.fields.at("InstallFolder"), "Example\\Viewer");
    EXPECT_EQ(m.fields.at("ShortName"), "  padded  ");
    EXPECT_EQ(m.fields.at("MakeUninstaller"), "1");
    EXPECT_EQ(m.fields.at("GuiLibrary"), "gui.dll");
    EXPECT_EQ(m.fields.size(), 5u);
    ASSERT_EQ(m.shortcuts.size(), 2u);
    EXPECT_EQ(m.shortcuts[0], (std::pair<std::string, std::string>{"Example Viewer", "viewer.exe"}));
    EXPECT_EQ(m.shortcuts[1], (std::pair<std::string, std::string>{"Read me", "readme.txt"}));
}

TEST(Manifest, RefusesWithTheLineNumber)
{
    struct Case {
        std::string text;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {"ProductName=a\nProdName=b", "manifest line 2: unknown key \"ProdName\""},
             {"ProductName=a\n\nproductname=b", "manifest line 3: ProductName is given twice"},
             {"[Files]\n", "manifest line 1: unknown section [Files] (known: [Package], [Shortcuts])"},
             {"[Package\n", "manifest line 1: unclosed section name"},
             {"ProductName", "manifest line 1: expected key=value"},
             {"[Shortcuts]\n=x.exe", "manifest line 2: empty key"},
         }) {
        try {
            ParseManifest(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ToolError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}
