// The editor's three small settings files, kept in the per-user config folder:
// "View.ziv" (editor background), "CForm.ziv" (window state and bounds) and "Dirs.lst"
// (recent files). Readers never raise on content: a missing, short or malformed file
// gives the installed default, so start-up always completes. Writers go through a
// temporary file and raise on failure; the caller decides whether that matters.
#pragma once

#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/Types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// ---- View.ziv ----------------------------------------------------------------------

constexpr const char* ViewSettingsFile = "View.ziv";
constexpr const char* WindowSettingsFile = "CForm.ziv";
constexpr const char* RecentListFile = "Dirs.lst";
constexpr const char* AssocFlagFile = "Assoc.reg";

constexpr size_t ViewLineMax = 30; // the line is held in a 30-character short string
constexpr const char* ViewChessLine = "CHESS";

// The editor background behind the picture: the checkerboard, or a plain colour.
struct TEditorBackground {
    bool Chess = true;
    TColor Color = clGray; // the colour dialog's colour, kept even while Chess is on
};

// The first line of the file (without CR/LF, cut to 30 characters): "CHESS" exactly,
// else a colour in the platform's colour-to-string form. Anything else: the default.
TEditorBackground ParseViewSettings(const std::string& Text);
// The bytes written: "CHESS" or ColorToString(Color) cut to 30 characters, then CR LF.
std::string ViewSettingsText(const TEditorBackground& Background);

// ---- CForm.ziv -----------------------------------------------------------------------

enum TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };

// The 20-byte record as it lies on disk; fields go through the little-endian helpers.
struct TWindowRecordDisk {
    uint8_t State;
    uint8_t Padding[3]; // written as zeros
    uint8_t Left[4];
    uint8_t Top[4];
    uint8_t Width[4];
    uint8_t Height[4];
};
static_assert(sizeof(TWindowRecordDisk) == 20, "CForm.ziv holds one 20-byte window record");

struct TWindowRecord {
    TWindowState State = wsNormal;
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    friend bool operator==(const TWindowRecord&, const TWindowRecord&) = default;
};

constexpr int32_t DefaultWindowWidth = 805;
constexpr int32_t DefaultWindowHeight = 606;
constexpr int32_t MinWindowWidth = 320;
constexpr int32_t MinWindowHeight = 240;

// Reads one record; False (Record untouched) when fewer than 20 bytes are there. An
// unknown state byte reads as normal; bytes after the record are ignored.
bool ReadWindowRecord(TStream& Stream, TWindowRecord& Record);
void WriteWindowRecord(TStream& Stream, const TWindowRecord& Record);
// A normal window of the design size centred on the screen's available area.
TWindowRecord DefaultWindowRecord(const TRect& Screen);
// The bounds moved and shrunk to lie on the available area, no smaller than the
// minimum size (or the area, when that is smaller still).
TWindowRecord ClampWindowRecord(const TWindowRecord& Record, const TRect& Screen);

// ---- Dirs.lst ------------------------------------------------------------------------

constexpr int32_t MaxRecentFiles = 5;
constexpr const char* RecentEmptyCaption = "Empty";
constexpr const char* RecentClearLine = "Clear";
constexpr size_t MaxRecentLine = 4096;       // a longer line is no path: skipped
constexpr size_t MaxRecentFileBytes = 65536; // more than the five paths can need

// The recent files, newest first: at most 5 non-blank lines, a first line "Clear" meaning
// none; the placeholder "Empty" and over-long lines are skipped. LF or CR LF.
std::vector<std::string> ParseRecentList(const std::string& Text);
// The captions of File > Recent Files in menu order, each line ended by CR LF; a list
// with no file is written as the single placeholder line "Empty".
std::string RecentListText(const std::vector<std::string>& Files);

// The recent list as the menu holds it: captions of the items, newest first, at most 5,
// with the single placeholder "Empty" while there is no file; Marked is the item that
// carries the image index 15 (the file opened last), -1 for none.
class TRecentList {
public:
    TRecentList() : FCaptions{RecentEmptyCaption} {}
    explicit TRecentList(const std::vector<std::string>& Files);

    const std::vector<std::string>& Captions() const { return FCaptions; }
    int32_t Count() const { return int32_t(FCaptions.size()); }
    const std::string& Caption(int32_t Index) const { return FCaptions.at(size_t(Index)); }
    // The files only (the placeholder left out).
    std::vector<std::string> Files() const;
    bool IsPlaceholder(int32_t Index) const;
    int32_t Marked() const { return FMarked; }
    void SetMarked(int32_t Index) { FMarked = Index; }

    // True when no caption equals FileName (exact, case-sensitive).
    bool IsNewRecent(const std::string& FileName) const;
    // Puts FileName at the head, the oldest dropping out past five; marks item 0.
    void AddRecentFile(const std::string& FileName);

private:
    std::vector<std::string> FCaptions;
    int32_t FMarked = -1;
};

// ---- Files -------------------------------------------------------------------------

// Reads at most Limit bytes of a file; False when it cannot be opened or read.
bool ReadSettingsBytes(const std::string& FileName, std::string& Bytes, size_t Limit);
// Writes the bytes through a temporary file renamed over the target; raises on failure.
void WriteSettingsBytes(const std::string& FileName, const std::string& Bytes);

TEditorBackground LoadViewSettings(const std::string& FileName);
void SaveViewSettings(const std::string& FileName, const TEditorBackground& Background);
// False when the file is missing or short (Record untouched).
bool LoadWindowRecord(const std::string& FileName, TWindowRecord& Record);
void SaveWindowRecord(const std::string& FileName, const TWindowRecord& Record);
std::vector<std::string> LoadRecentList(const std::string& FileName);
void SaveRecentList(const std::string& FileName, const std::vector<std::string>& Files);

} // namespace kv
