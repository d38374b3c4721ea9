#include "editor/FileAssociation.h"

#include "editor/Settings.h"
#include "platform/Classes.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

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

// Read as the shared-MIME-info database reads it: one type, the project type, matched
// by the name pattern "*.kvn" alone (no magic: a project starts with "BM" like a BMP), with
// the default case-insensitive matching so that ".KVN" files are projects too. The
// database matches a glob against the file name without its folder.
TEST(AssociationText, MimePackageMatchesByNameOnly)
{
    const QString Namespace = "http://www.freedesktop.org/standards/shared-mime-info";
    QXmlStreamReader Xml(QString::fromStdString(ProjectMimePackage()));
    QStringList Types, Globs, Comments, Others;
    int Depth = 0;
    QString Root;
    while (!Xml.atEnd()) {
        const QXmlStreamReader::TokenType Token = Xml.readNext();
        if (Token == QXmlStreamReader::EndElement)
            --Depth;
        if (Token != QXmlStreamReader::StartElement)
            continue;
        ++Depth;
        EXPECT_EQ(Xml.namespaceUri().toString(), Namespace) << Xml.name().toString().toStdString();
        const QString Name = Xml.name().toString();
        if (Depth == 1)
            Root = Name;
        else if (Name == "mime-type" && Depth == 2)
            Types << Xml.attributes().value("type").toString();
        else if (Name == "glob" && Depth == 3) {
            Globs << Xml.attributes().value("pattern").toString();
            EXPECT_FALSE(Xml.attributes().hasAttribute("case-sensitive"));
        } else if (Name == "comment" && Depth == 3)
            Comments << Xml.readElementText(), --Depth;
        else
            Others << Name;
    }
    ASSERT_FALSE(Xml.hasError()) << Xml.errorString().toStdString();
    EXPECT_EQ(Root, "mime-info");
    EXPECT_EQ(Types, QStringList{ProjectMimeType});
    EXPECT_EQ(Globs, QStringList{"*.kvn"});
    EXPECT_EQ(Comments, QStringList{"Kelvane project"});
    EXPECT_TRUE(Others.isEmpty()) << Others.join(",").toStdString(); // no magic, no sub-class
    const QRegularExpression Glob(QRegularExpression::wildcardToRegularExpression(Globs.value(0)),
                                  QRegularExpression::CaseInsensitiveOption);
    EXPECT_TRUE(Glob.match("My picture.kvn").hasMatch());
    EXPECT_TRUE(Glob.match("OLD.KVN").hasMatch());
    EXPECT_FALSE(Glob.match("picture.kvn.bmp").hasMatch());
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
