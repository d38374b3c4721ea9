// Saves that fail part-way: a body run in a forked child whose files may not grow past a
// limit (the stand-in for a full disk that needs no mount), and the checks that the file
// the save meant to replace is untouched and nothing was left beside it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kvtest {

struct TChildOutcome {
    bool Finished = false; // the child reported back (no crash, no hang)
    bool Raised = false;   // the body raised
    std::string Text;      // the exception's message, or what the body returned
};

// Runs Body in a child process under RLIMIT_FSIZE = LimitBytes with SIGXFSZ ignored, so a
// write past the limit fails with EFBIG ("File too large") instead of killing the child.
// The limit stops only writes beyond that offset: an old file larger than it is fine.
inline TChildOutcome RunUnderFileSizeLimit(uint64_t LimitBytes, const std::function<std::string()>& Body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        close(fds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        alarm(120); // a hang ends the child, and the parent sees no report
        rlimit lim{};
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = rlim_t(LimitBytes);
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            _exit(3);
        char kind = 'R';
        std::string text;
        try {
            text = Body();
        } catch (const std::exception& e) {
            kind = 'T';
            text = e.what();
        } catch (...) {
            kind = 'T';
            text = "(not a std::exception)";
        }
        text.insert(text.begin(), kind);
        size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = write(fds[1], text.data() + sent, text.size() - sent);
            if (n <= 0)
                _exit(4);
            sent += size_t(n);
        }
        _exit(0); // no destructors or atexit handlers of the parent's objects
    }
    close(fds[1]);
    std::string got;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got.append(buf, size_t(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    TChildOutcome out;
    out.Finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !got.empty();
    if (out.Finished) {
        out.Raised = got[0] == 'T';
        out.Text = got.substr(1);
    }
    return out;
}

inline std::string FileBytes(const std::string& Name)
{
    std::ifstream f(Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void PutFileBytes(const std::string& Name, const std::string& Bytes)
{
    std::ofstream(Name, std::ios::binary | std::ios::trunc) << Bytes;
}

// The names in Dir, sorted: what a save leaves behind.
inline std::vector<std::string> FolderNames(const std::string& Dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder of its own for one test, removed with everything in it.
struct TSaveFolder {
    std::string Path;
    TSaveFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv_save_XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        Path = mkdtemp(buf.data()) ? buf.data() : std::string();
    }
    ~TSaveFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string operator/(const std::string& Name) const { return Path + "/" + Name; }
};

// Old bytes a save must leave alone: long enough to pass any small limit, and no picture.
inline std::string OldFileBytes(size_t Size = 3000)
{
    std::string s(Size, '\0');
    for (size_t i = 0; i < Size; ++i)
        s[i] = char('A' + i % 23);
    return s;
}

inline std::string TooLargeMessage(const std::string& Name)
{
    return "Cannot write file \"" + Name + "\": File too large";
}

// One writer on the save road, as a row of a table: Save writes the file it is given
// (raising on failure); Limit is below the size of what it writes, so the write stops
// part-way.
struct TSaveRoadCase {
    const char* Writer;
    const char* FileName; // with the writer's extension
    std::function<void(const std::string&)> Save;
    uint64_t Limit;
};

// The three roads every writer must take alike:
// - a write that fails part-way raises "Cannot write file "NAME": File too large" and
//   leaves the old bytes and no temporary;
// - a file whose mode lets no one write it is refused (for root too), unchanged;
// - through a symbolic link the file it points to is replaced, its mode kept, and the
//   link stays a link.
inline void CheckSaveRoad(const TSaveRoadCase& C)
{
    SCOPED_TRACE(C.Writer);
    const std::string old = OldFileBytes();
    {
        TSaveFolder dir;
        const std::string name = dir / C.FileName;
        PutFileBytes(name, old);
        const TChildOutcome r = RunUnderFileSizeLimit(C.Limit, [&] {
            C.Save(name);
            return std::string("saved");
        });
        EXPECT_TRUE(r.Finished);
        EXPECT_TRUE(r.Raised) << r.Text;
        EXPECT_EQ(r.Text, TooLargeMessage(name));
        EXPECT_TRUE(FileBytes(name) == old) << "the old file was changed";
        EXPECT_EQ(FolderNames(dir.Path), std::vector<std::string>{C.FileName});
        // With room, the same save goes through (the limit, not the writer, failed it).
        C.Save(name);
        EXPECT_NE(FileBytes(name), old);
        EXPECT_GT(FileBytes(name).size(), C.Limit);
    }
    {
        TSaveFolder dir;
        const std::string name = dir / C.FileName;
        PutFileBytes(name, old);
        chmod(name.c_str(), 0444);
        std::string message;
        try {
            C.Save(name);
        } catch (const std::exception& e) {
            message = e.what();
        }
        EXPECT_EQ(message, "Cannot write file \"" + name + "\": The file is read-only");
        EXPECT_TRUE(FileBytes(name) == old) << "the read-only file was changed";
        struct stat st {};
        stat(name.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0444u);
        EXPECT_EQ(FolderNames(dir.Path), std::vector<std::string>{C.FileName});
    }
    {
        TSaveFolder dir;
        std::filesystem::create_directory(dir / "real");
        const std::string target = dir / ("real/" + std::string(C.FileName));
        const std::string link = dir / C.FileName;
        PutFileBytes(target, old);
        chmod(target.c_str(), 0640);
        std::filesystem::create_symlink("real/" + std::string(C.FileName), link);
        const std::string plain = dir / ("plain-" + std::string(C.FileName));
        C.Save(plain);
        C.Save(link);
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), "real/" + std::string(C.FileName));
        EXPECT_EQ(FileBytes(target).size(), FileBytes(plain).size());
        EXPECT_NE(FileBytes(target), old);
        struct stat st {};
        stat(target.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(FolderNames(dir / "real"), std::vector<std::string>{C.FileName});
        std::vector<std::string> left{C.FileName, "plain-" + std::string(C.FileName), "real"};
        std::sort(left.begin(), left.end());
        EXPECT_EQ(FolderNames(dir.Path), left);
    }
}

} // namespace kvtest
