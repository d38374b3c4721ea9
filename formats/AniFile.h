// TAnimatedCursorImage: reads an animated cursor (a RIFF file of form "ACON") into a
// list of icon frames, and hands them to an icon, an icon list or a bitmap strip.
#pragma once

#include "formats/IcoList.h"
#include "platform/Icon.h"

#include <memory>
#include <string>
#include <vector>

namespace kv {

// The "anih" chunk: nine little-endian 32-bit fields.
struct TAniHeader {
    uint32_t HeaderSize = 0;
    uint32_t Frames = 0;
    uint32_t Steps = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t BitCount = 0;
    uint32_t Planes = 0;
    uint32_t DisplayRate = 0; // sixtieths of a second
    uint32_t Flags = 0;       // bit 0: the frames are icons
};
static_assert(sizeof(TAniHeader) == 36, "anih header is 36 bytes");

class TIconFrame : public TPersistent {
public:
    TIconFrame(int32_t Index, uint32_t Rate);
    ~TIconFrame() override;
    TIcon* Icon() const { return FIcon.get(); }
    bool IsIcon() const { return FIsIcon; }
    const std::string& TagName() const { return FTagName; }
    uint32_t TagSize() const { return FTagSize; }
    TPoint HotSpot() const { return FHotSpot; }
    uint32_t JiffRate() const { return FJiffRate; } // sixtieths of a second
    int32_t Seq() const { return FSeq; }            // -1: no header frame matched
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TIconFrame"; }

private:
    friend class TAnimatedCursorImage;
    std::unique_ptr<TIcon> FIcon;
    bool FIsIcon = false;
    std::string FTagName;
    uint32_t FTagSize = 0;
    TPoint FHotSpot;
    uint32_t FJiffRate = 0;
    int32_t FSeq = -1;
};

class TAnimatedCursorImage : public TPersistent {
public:
    TAnimatedCursorImage();
    ~TAnimatedCursorImage() override;

    void Clear();
    // Raises EReadError "Stream read error" on data that is not an animated cursor; the
    // frames read so far stay.
    virtual void LoadFromStream(TStream& Stream);
    // Writing animated cursors is not offered: says so and ends the operation silently.
    virtual void SaveToStream(TStream& Stream);
    virtual void LoadFromFile(const std::string& FileName);
    void Assign(TPersistent* Source) override;

    const TAniHeader& Header() const { return FHeader; }
    const std::string& Title() const { return FTitle; }
    const std::string& Creator() const { return FCreator; }
    int32_t FrameCount() const { return int32_t(FFrames.size()); }
    TIconFrame* Frames(int32_t Index) const;
    int32_t IconCount() const { return FIcons; } // largest colour count: 2, 16, 256 or 0
    std::string ClassName() const override { return "TAnimatedCursorImage"; }

protected:
    void AssignTo(TPersistent* Dest) override;

private:
    void Parse(const std::vector<uint8_t>& Buf);
    void ReadIcon(const uint8_t* Data, uint32_t Size, int32_t Number);
    TAniHeader FHeader;
    std::string FTitle;
    std::string FCreator;
    std::vector<std::unique_ptr<TIconFrame>> FFrames;
    int32_t FIcons = 0;
};

} // namespace kv
