// Every writer of the platform saves through one road: a failed write, a read-only target
// and a symbolic link behave alike for each (see tests/common/SaveFailure.h).
#include "common/SaveFailure.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/RichEdit.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kvtest;

namespace {

std::string Pattern(size_t Size)
{
    std::string s(Size, '\0');
    for (size_t i = 0; i < Size; ++i)
        s[i] = char(i * 131 + i / 7);
    return s;
}

void SaveBytes(const std::string& Name, const std::string& Bytes)
{
    TMemoryStream m;
    m.WriteBuffer(Bytes.data(), int64_t(Bytes.size()));
    m.SaveToFile(Name);
}

TRichEdit& Edit()
{
    static TRichEdit edit;
    if (edit.Paragraphs().empty() || edit.Paragraphs()[0].size() < 2000) {
        TRtfDocument doc;
        for (int i = 0; i < 40; ++i)
            doc.Paragraphs.push_back(
                {raLeft, {{std::string(60, char('a' + i % 26)), {"Arial", 24, RGB(200, 0, 0), fsBold}}}});
        edit.SetDocument(doc);
    }
    return edit;
}

} // namespace

TEST(SaveRoad, EveryPlatformWriterKeepsTheOldFileAndFollowsLinks)
{
    const TSaveRoadCase cases[] = {
        // Small enough to sit in the stream's buffer: the failure comes at the last flush.
        {"memory stream, buffered", "m.bin", [](const std::string& N) { SaveBytes(N, Pattern(5000)); }, 1000},
        // Larger than the buffer: the failure comes in the middle of the writes.
        {"memory stream, written through", "big.bin", [](const std::string& N) { SaveBytes(N, Pattern(300000)); },
         150000},
        {"string list", "list.txt",
         [](const std::string& N) {
             TStringList l;
             for (int i = 0; i < 300; ++i)
                 l.Add("line " + std::to_string(i));
             l.SaveToFile(N);
         },
         500},
        {"text tool, plain text", "t.txt", [](const std::string& N) { Edit().SaveToFile(N, tfPlainText); }, 700},
        {"text tool, rich text", "t.rtf", [](const std::string& N) { Edit().SaveToFile(N, tfRichText); }, 700},
        {"platform bitmap", "b.bmp",
         [](const std::string& N) {
             TBitmap b;
             b.SetPixelFormat(pf24bit);
             b.SetSize(40, 30);
             b.SetPixelColor(3, 4, clRed);
             b.SaveToFile(N);
         },
         1000},
        {"the road itself", "raw.dat",
         [](const std::string& N) {
             SaveFileSafely(N, [](TStream& S) {
                 const std::string bytes = Pattern(4000);
                 for (char c : bytes)
                     S.WriteU8(uint8_t(c));
             });
         },
         100},
    };
    for (const auto& c : cases)
        CheckSaveRoad(c);
}

// A writer that turns the stream's error into its own still reports the system's reason.
TEST(SaveRoad, WritersOwnErrorAfterAFailedWriteReportsTheWriteFailure)
{
    TSaveFolder dir;
    const std::string name = dir / "own.dat";
    PutFileBytes(name, OldFileBytes());
    const TChildOutcome r = RunUnderFileSizeLimit(10, [&] {
        SaveFileSafely(name, [](TStream& S) {
            const std::string bytes = Pattern(100000);
            try {
                S.WriteBuffer(bytes.data(), int64_t(bytes.size()));
            } catch (const Exception&) {
            }
            throw EInvalidGraphic("the writer's own error");
        });
        return std::string();
    });
    EXPECT_TRUE(r.Raised);
    EXPECT_EQ(r.Text, TooLargeMessage(name));
    EXPECT_EQ(FileBytes(name), OldFileBytes());
    EXPECT_EQ(FolderNames(dir.Path), std::vector<std::string>{"own.dat"});

    // One that swallows the failure and returns cannot commit what it wrote.
    const TChildOutcome quiet = RunUnderFileSizeLimit(10, [&] {
        TSafeFileStream s(name);
        const std::string bytes = Pattern(100000);
        try {
            s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        } catch (const Exception&) {
        }
        s.Commit();
        return std::string();
    });
    EXPECT_TRUE(quiet.Raised);
    const TChildOutcome again = RunUnderFileSizeLimit(10, [&] {
        TSafeFileStream s(name);
        const std::string bytes = Pattern(100000);
        try {
            s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
        } catch (const Exception&) {
        }
        s.WriteU8(1); // refused at once: the stream is spent
        return std::string("a write after the failure was taken");
    });
    EXPECT_TRUE(again.Raised);
    EXPECT_EQ(again.Text, TooLargeMessage(name));
    EXPECT_EQ(quiet.Text, TooLargeMessage(name));
    EXPECT_EQ(FileBytes(name), OldFileBytes());
    EXPECT_EQ(FolderNames(dir.Path), std::vector<std::string>{"own.dat"});
}

// A new file gets the mode the process's mask gives any new file, not the temporary's 0600.
// Links to links are followed to the end, and a link to a file that does not exist yet
// makes that file.
TEST(SaveRoad, NewFilesTakeTheMaskAndLinkChainsAreFollowed)
{
    TSaveFolder dir;
    const mode_t old = umask(027);
    SaveBytes(dir / "new.bin", "abc");
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dir / "new.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    std::filesystem::create_symlink("new.bin", dir / "one");
    std::filesystem::create_symlink(dir / "one", dir / "two");
    SaveBytes(dir / "two", "second");
    EXPECT_EQ(FileBytes(dir / "new.bin"), "second");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "one"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "two"));

    std::filesystem::create_symlink("later.bin", dir / "dangling");
    SaveBytes(dir / "dangling", "made");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
    EXPECT_EQ(FileBytes(dir / "later.bin"), "made");

    // A folder, and a loop of links, are refused with the system's reason.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_THROW(SaveBytes(dir / "folder", "x"), EFCreateError);
    std::filesystem::create_symlink("loop2", dir / "loop1");
    std::filesystem::create_symlink("loop1", dir / "loop2");
    try {
        SaveBytes(dir / "loop1", "x");
        ADD_FAILURE() << "a loop of links was saved through";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + (dir / "loop1") + "\": Too many levels of symbolic links");
    }
    EXPECT_EQ(FolderNames(dir.Path),
              (std::vector<std::string>{"dangling", "folder", "later.bin", "loop1", "loop2", "new.bin", "one", "two"}));
}

// Writers patch headers after the body: a write after a seek lands where the position
// says, whether the bytes around it are still buffered or already on disk, and reads
// see what was written.
TEST(SaveRoad, SeeksPatchInPlaceAndReadsSeeWhatWasWritten)
{
    TSaveFolder dir;
    const std::string name = dir / "patched.bin";
    const std::string big = Pattern(70000); // past the road's buffer: part of it goes out
    std::string want = "0123456789" + big;
    {
        TSafeFileStream s(name);
        s.WriteBuffer("0123456789", 10);
        s.Seek(2, soBeginning);
        s.WriteU8('X'); // inside the buffer, before its end
        want[2] = 'X';
        s.Seek(0, soEnd);
        s.WriteBuffer(big.data(), int64_t(big.size()));
        EXPECT_EQ(s.Size(), int64_t(want.size()));
        s.Seek(5, soBeginning);
        s.WriteU8('Y'); // on disk already
        want[5] = 'Y';
        s.Seek(0, soEnd);
        s.WriteU8('Z'); // back at the end
        want += 'Z';
        s.Seek(0, soBeginning);
        char head[6] = {};
        EXPECT_EQ(s.Read(head, 6), 6);
        EXPECT_EQ(std::string(head, 6), want.substr(0, 6));
        EXPECT_EQ(s.Position(), 6);
        s.SetSize(int64_t(want.size()) - 1); // the last byte cut again
        want.pop_back();
        s.Commit();
    }
    EXPECT_TRUE(FileBytes(name) == want);
}
