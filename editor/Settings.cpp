#include "editor/Settings.h"

#include <algorithm>
#include <cstring>

namespace kv {

// ---- View.ziv ----------------------------------------------------------------------

static std::string FirstLine(const std::string& Text)
{
    size_t end = Text.find_first_of("\r\n");
    return end == std::string::npos ? Text : Text.substr(0, end);
}

// A colour the editor can paint with: a plain 0x00BBGGRR value or one of the platform's
// system colours. clNone, clDefault and stray top bytes are no background colour.
static bool IsPaintableColor(TColor Color)
{
    uint32_t c = uint32_t(Color);
    if ((c & 0xFF000000u) == 0)
        return true;
    return (c & 0xFFFFFF00u) == 0x80000000u && (c & 0xFFu) <= uint32_t(clInfoBk & 0xFF);
}

TEditorBackground ParseViewSettings(const std::string& Text)
{
    TEditorBackground result;
    std::string line = FirstLine(Text).substr(0, ViewLineMax);
    if (line == ViewChessLine)
        return result;
    try {
        TColor c = StringToColor(line);
        if (IsPaintableColor(c)) {
            result.Chess = false;
            result.Color = c;
        }
    } catch (const EConvertError&) {
        // neither "CHESS" nor a colour: the installed default
    }
    return result;
}

std::string ViewSettingsText(const TEditorBackground& Background)
{
    std::string line = Background.Chess ? std::string(ViewChessLine) : ColorToString(Background.Color);
    return line.substr(0, ViewLineMax) + "\r\n";
}

// ---- CForm.ziv -----------------------------------------------------------------------

bool ReadWindowRecord(TStream& Stream, TWindowRecord& Record)
{
    TWindowRecordDisk disk;
    if (Stream.Read(&disk, sizeof disk) != int64_t(sizeof disk))
        return false;
    Record.State = disk.State <= wsMaximized ? TWindowState(disk.State) : wsNormal;
    Record.Left = int32_t(GetU32LE(disk.Left));
    Record.Top = int32_t(GetU32LE(disk.Top));
    Record.Width = int32_t(GetU32LE(disk.Width));
    Record.Height = int32_t(GetU32LE(disk.Height));
    return true;
}

void WriteWindowRecord(TStream& Stream, const TWindowRecord& Record)
{
    TWindowRecordDisk disk;
    std::memset(&disk, 0, sizeof disk);
    disk.State = uint8_t(Record.State);
    PutU32LE(disk.Left, uint32_t(Record.Left));
    PutU32LE(disk.Top, uint32_t(Record.Top));
    PutU32LE(disk.Width, uint32_t(Record.Width));
    PutU32LE(disk.Height, uint32_t(Record.Height));
    Stream.WriteBuffer(&disk, sizeof disk);
}

TWindowRecord DefaultWindowRecord(const TRect& Screen)
{
    TWindowRecord r;
    r.Width = DefaultWindowWidth;
    r.Height = DefaultWindowHeight;
    r.Left = Screen.Left + (Screen.Right - Screen.Left - r.Width) / 2;
    r.Top = Screen.Top + (Screen.Bottom - Screen.Top - r.Height) / 2;
    return ClampWindowRecord(r, Screen);
}

static int32_t ClampSide(int32_t Side, int32_t Minimum, int32_t Available)
{
    int32_t lowest = std::min(Minimum, Available);
    return std::clamp(Side, std::max(lowest, 1), std::max(Available, 1));
}

static int32_t ClampStart(int32_t Start, int32_t Side, int32_t AreaStart, int32_t AreaEnd)
{
    int32_t last = std::max(AreaStart, AreaEnd - Side);
    return std::clamp(Start, AreaStart, last);
}

TWindowRecord ClampWindowRecord(const TWindowRecord& Record, const TRect& Screen)
{
    TWindowRecord r = Record;
    // 64-bit extents: a hostile record must not overflow the arithmetic below.
    int32_t availW = int32_t(std::clamp<int64_t>(int64_t(Screen.Right) - Screen.Left, 0, INT32_MAX));
    int32_t availH = int32_t(std::clamp<int64_t>(int64_t(Screen.Bottom) - Screen.Top, 0, INT32_MAX));
    r.Width = ClampSide(Record.Width, MinWindowWidth, availW);
    r.Height = ClampSide(Record.Height, MinWindowHeight, availH);
    r.Left = ClampStart(Record.Left, r.Width, Screen.Left, Screen.Right);
    r.Top = ClampStart(Record.Top, r.Height, Screen.Top, Screen.Bottom);
    return r;
}

// ---- Dirs.lst ------------------------------------------------------------------------

static bool IsBlank(const std::string& S)
{
    return std::all_of(S.begin(), S.end(), [](unsigned char c) { return c == ' ' || c == '\t'; });
}

std::vector<std::string> ParseRecentList(const std::string& Text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    bool first = true;
    while (pos < Text.size() && lines.size() < size_t(MaxRecentFiles)) {
        size_t end = Text.find('\n', pos);
        if (end == std::string::npos)
            end = Text.size();
        std::string line = Text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first && line == RecentClearLine)
            return {};
        first = false;
        if (IsBlank(line) || line == RecentEmptyCaption || line.size() > MaxRecentLine ||
            line.find('\0') != std::string::npos)
            continue;
        lines.push_back(line);
    }
    return lines;
}

std::string RecentListText(const std::vector<std::string>& Files)
{
    if (Files.empty())
        return std::string(RecentEmptyCaption) + "\r\n";
    std::string text;
    for (const std::string& f : Files)
        text += f + "\r\n";
    return text;
}

TRecentList::TRecentList(const std::vector<std::string>& Files)
{
    for (const std::string& f : Files)
        if (int32_t(FCaptions.size()) < MaxRecentFiles)
            FCaptions.push_back(f);
    if (FCaptions.empty())
        FCaptions.push_back(RecentEmptyCaption);
}

std::vector<std::string> TRecentList::Files() const
{
    std::vector<std::string> files;
    for (int32_t i = 0; i < Count(); ++i)
        if (!IsPlaceholder(i))
            files.push_back(FCaptions[size_t(i)]);
    return files;
}

bool TRecentList::IsPlaceholder(int32_t Index) const
{
    return Count() == 1 && Index == 0 && FCaptions[0] == RecentEmptyCaption;
}

bool TRecentList::IsNewRecent(const std::string& FileName) const
{
    return std::find(FCaptions.begin(), FCaptions.end(), FileName) == FCaptions.end();
}

void TRecentList::AddRecentFile(const std::string& FileName)
{
    if (IsPlaceholder(0)) {
        FCaptions[0] = FileName;
    } else {
        if (Count() < MaxRecentFiles)
            FCaptions.emplace_back();
        for (int32_t i = Count() - 1; i > 0; --i)
            FCaptions[size_t(i)] = FCaptions[size_t(i - 1)];
        FCaptions[0] = FileName;
    }
    FMarked = 0;
}

// ---- Files -------------------------------------------------------------------------

bool ReadSettingsBytes(const std::string& FileName, std::string& Bytes, size_t Limit)
{
    try {
        TFileStream f(FileName, fmOpenRead | fmShareDenyNone);
        int64_t size = std::min<int64_t>(f.Size(), int64_t(Limit));
        Bytes.assign(size_t(std::max<int64_t>(size, 0)), '\0');
        if (!Bytes.empty())
            f.ReadBuffer(Bytes.data(), int64_t(Bytes.size()));
        return true;
    } catch (const Exception&) {
        Bytes.clear();
        return false;
    }
}

void WriteSettingsBytes(const std::string& FileName, const std::string& Bytes)
{
    SaveFileSafely(FileName, [&Bytes](TStream& Stream) {
        if (!Bytes.empty())
            Stream.WriteBuffer(Bytes.data(), int64_t(Bytes.size()));
    });
}

TEditorBackground LoadViewSettings(const std::string& FileName)
{
    std::string bytes;
    if (!ReadSettingsBytes(FileName, bytes, 256))
        return TEditorBackground();
    return ParseViewSettings(bytes);
}

void SaveViewSettings(const std::string& FileName, const TEditorBackground& Background)
{
    WriteSettingsBytes(FileName, ViewSettingsText(Background));
}

bool LoadWindowRecord(const std::string& FileName, TWindowRecord& Record)
{
    std::string bytes;
    if (!ReadSettingsBytes(FileName, bytes, sizeof(TWindowRecordDisk)))
        return false;
    TReadOnlyMemoryStream s(bytes.data(), int64_t(bytes.size()));
    return ReadWindowRecord(s, Record);
}

void SaveWindowRecord(const std::string& FileName, const TWindowRecord& Record)
{
    TMemoryStream m;
    WriteWindowRecord(m, Record);
    WriteSettingsBytes(FileName, std::string(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size())));
}

std::vector<std::string> LoadRecentList(const std::string& FileName)
{
    std::string bytes;
    if (!ReadSettingsBytes(FileName, bytes, MaxRecentFileBytes))
        return {};
    return ParseRecentList(bytes);
}

void SaveRecentList(const std::string& FileName, const std::vector<std::string>& Files)
{
    WriteSettingsBytes(FileName, RecentListText(Files));
}

} // namespace kv
