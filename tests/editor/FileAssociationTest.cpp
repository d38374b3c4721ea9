#include "editor/FileAssociation.h"

#include "editor/Settings.h"
#include "platform/Classes.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace kv;

namespace {

std::string ReadFile(const std::filesystem::path& Name)
{
    std::ifstream in(Name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Association : public ::testing::Test {
protected:
    void SetUp() override
    {
        Root = std::filesystem::temp_directory_path() /
               ("kv_assoc_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(Root);
        std::filesystem::create_directories(Root / "config");
        SetConfigDir((Root / "config").string());
        SetDataHomeDir((Root / "share").string());
        ClearRegistry();
    }
    void TearDown() override
    {
        SetConfigDir("");
        SetDataHomeDir("");
        ClearRegistry();
        std::filesystem::remove_all(Root);
    }
    std::filesystem::path Root;
};

} // namespace

TEST(AssociationText, MimePackageMatchesByNameOnly)
{
    EXPECT_EQ(ProjectMimePackage(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "  <mime-type type=\"application/x-kelvane-project\">\n"
              "    <comment>Kelvane project</comment>\n"
              "    <glob pattern=\"*.kvn\"/>\n"
              "  </mime-type>\n"
              "</mime-info>\n");
}

TEST(AssociationText, DesktopEntryQuotesPathsThatNeedIt)
{
    EXPECT_EQ(DesktopEntryText("/usr/bin/kelvane", "/usr/share/kelvane/Icon.ico"),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Kelvane\n"
              "Comment=Layered picture editor\n"
              "Exec=/usr/bin/kelvane %f\n"
              "Icon=/usr/share/kelvane/Icon.ico\n"
              "MimeType=application/x-kelvane-project;\n"
              "Terminal=false\n"
              "Categories=Graphics;2DGraphics;RasterGraphics;\n");
    EXPECT_EQ(QuoteExecArgument("/opt/my app/kelvane"), "\"/opt/my app/kelvane\"");
    // Inside quotes $ and " get a backslash, which the desktop string then doubles; % doubles.
    EXPECT_EQ(QuoteExecArgument("/a$b/\"c\"/100%"), "\"/a\\\\$b/\\\\\"c\\\\\"/100%%\"");
}

TEST_F(Association, WritesKeysFilesAndTheFlagOnce)
{
    EXPECT_FALSE(AssociationRegistered());
    RegisterFileType("/opt/kv/kelvane", "/opt/kv/data/Icon.ico", false);

    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, ".KVN"), "KVNFile");
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, "KVNFile\\DefaultIcon"), "/opt/kv/data/Icon.ico");
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, "KVNFile\\shell\\open\\command"), "/opt/kv/kelvane \"%1\"");
    EXPECT_EQ(RegistryKeyCount(HKEY_CLASSES_ROOT), 3);

    EXPECT_EQ(ReadFile(Root / "share/mime/packages/kelvane-project.xml"), ProjectMimePackage());
    EXPECT_EQ(ReadFile(Root / "share/applications/kelvane.desktop"),
              DesktopEntryText("/opt/kv/kelvane", "/opt/kv/data/Icon.ico"));
    ASSERT_TRUE(AssociationRegistered());
    EXPECT_EQ(std::filesystem::file_size(Root / "config/Assoc.reg"), 0u);

    // Deleting the flag makes the association due again.
    std::filesystem::remove(Root / "config/Assoc.reg");
    EXPECT_FALSE(AssociationRegistered());
}

TEST_F(Association, UnwritableDataHomeRaisesAndLeavesNoFlag)
{
    std::ofstream(Root / "blocker") << "a file where a folder should be";
    SetDataHomeDir((Root / "blocker").string());
    EXPECT_THROW(RegisterFileType("/k", "/i", false), Exception);
    EXPECT_FALSE(AssociationRegistered());
}

TEST(Registry, OpenWithoutCreateAndWriteWithoutKey)
{
    ClearRegistry();
    TRegistry reg;
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    EXPECT_FALSE(reg.OpenKey("Missing\\Key", false));
    EXPECT_THROW(reg.WriteString("", "x"), ERegistryException);
    ASSERT_TRUE(reg.OpenKey("\\New\\Key\\", true));
    reg.WriteString("Name", "v");
    EXPECT_TRUE(reg.KeyExists("new\\KEY")); // keys compare case-insensitively
    EXPECT_EQ(RegistryValue(HKEY_CLASSES_ROOT, "New\\Key", "name"), "v");
    ClearRegistry();
}

TEST(Shell, HookSeesTheTargets)
{
    std::vector<std::string> seen;
    TShellOpenHook previous = SetShellOpenHook([&](const std::string& t) {
        seen.push_back(t);
        return true;
    });
    EXPECT_TRUE(ShellOpen("mailto:someone@example.org"));
    SetShellOpenHook(previous);
    EXPECT_EQ(seen, (std::vector<std::string>{"mailto:someone@example.org"}));
}
