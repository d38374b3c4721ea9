// TPNGImage: a platform bitmap that reads and writes PNG files. The file's chunks stay
// in an ordered list (so unknown ancillary chunks survive a load and save); the pixels
// are decoded into the bitmap and encoded back from it.
#pragma once

#include "platform/Graphics.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

KV_DECLARE_EXCEPTION(EPNGImageException, EInvalidGraphic)

class TPNGImage;
class TChunkList;

// Encoder filter set bits.
constexpr uint8_t pfNone = 1 << 0, pfSub = 1 << 1, pfUp = 1 << 2, pfAverage = 1 << 3, pfPaeth = 1 << 4;
constexpr uint8_t DefaultPNGFilters = pfNone | pfSub | pfAverage | pfPaeth; // 27

// One chunk: its 4-letter type as read, its data, and the list that owns it.
class TChunk : public TObject {
public:
    // A chunk of a registered class takes that class's type; a plain chunk gets Type.
    explicit TChunk(TChunkList* Owner, const std::string& Type = "");
    ~TChunk() override;

    const std::string& ChunkType() const { return FType; }
    TMemoryStream& Data() { return *FData; }
    int64_t Size() const;
    TChunkList* Owner() const { return FOwner; }
    TPNGImage* Image() const;

    // Applies what the chunk says to the picture after a load (gAMA and IDAT act).
    virtual void Apply() {}
    virtual void Assign(TChunk* Source);
    // Brings the data up to date with the picture, then writes length, type, data and
    // CRC; chunks whose fourth letter is lower case are not written.
    virtual void SaveToStream(TStream& Stream);
    std::string ClassName() const override { return "TChunk"; }

protected:
    virtual void UpdateData() {}

private:
    friend class TChunkList;
    std::string FType;
    std::unique_ptr<TMemoryStream> FData;
    TChunkList* FOwner;
};

class TChunkIHDR : public TChunk {
public:
    explicit TChunkIHDR(TChunkList* Owner);
    uint32_t Width();
    uint32_t Height();
    // Also resizes the picture when it differs.
    void SetWidth(uint32_t Value);
    void SetHeight(uint32_t Value);
    uint8_t BitDepth();
    void SetBitDepth(uint8_t Value);
    uint8_t ColorType();
    void SetColorType(uint8_t Value);
    uint8_t Compression();
    uint8_t Filter();
    uint8_t Interlaced();
    void SetInterlaced(uint8_t Value);
    std::string ClassName() const override { return "TChunkIHDR"; }

protected:
    void UpdateData() override;

private:
    uint8_t Field(int Offset);
    void SetField(int Offset, uint8_t Value);
};

class TChunkGAMA : public TChunk {
public:
    explicit TChunkGAMA(TChunkList* Owner);
    // The gamma value times 100000.
    uint32_t Value();
    void SetValue(uint32_t Value);
    void Apply() override;
    // Built from the value; a value of 0 or a short chunk leaves both identity.
    const std::array<uint8_t, 256>& Forward();
    const std::array<uint8_t, 256>& Inverse();
    std::string ClassName() const override { return "TChunkGAMA"; }

private:
    void BuildTables();
    std::array<uint8_t, 256> FForward{};
    std::array<uint8_t, 256> FInverse{};
    uint32_t FTablesFor = 0xFFFFFFFF; // the value the tables were built for
    bool FTablesValid = false;
};

class TChunkPLTE : public TChunk {
public:
    explicit TChunkPLTE(TChunkList* Owner);
    int32_t Count() { return int32_t(Size() / 3); }
    std::string ClassName() const override { return "TChunkPLTE"; }

protected:
    void UpdateData() override;
};

class TChunkTEXT : public TChunk {
public:
    explicit TChunkTEXT(TChunkList* Owner);
    std::string ClassName() const override { return "TChunkTEXT"; }
};

class TChunkTRNS : public TChunk {
public:
    explicit TChunkTRNS(TChunkList* Owner);
    // The transparent colour of an RGB picture (colour type 2) as 0x00BBGGRR.
    TColor TransparentColor();
    std::string ClassName() const override { return "TChunkTRNS"; }

protected:
    void UpdateData() override;
};

class TChunkIDAT : public TChunk {
public:
    explicit TChunkIDAT(TChunkList* Owner);
    void Apply() override; // decodes the pixels into the picture
    std::string ClassName() const override { return "TChunkIDAT"; }

protected:
    void UpdateData() override; // encodes the picture's pixels
};

class TChunkIEND : public TChunk {
public:
    explicit TChunkIEND(TChunkList* Owner);
    std::string ClassName() const override { return "TChunkIEND"; }
};

// The registry of chunk classes: type -> class, looked up by exact type; a class's
// type is that of its first registration.
using TChunkFactory = std::function<std::unique_ptr<TChunk>(TChunkList* Owner)>;
struct TChunkClassInfo {
    std::string Type;
    std::string ClassName;
    TChunkFactory Create;
};

class TChunkClasses {
public:
    static void Register(const std::string& Type, const std::string& ClassName, TChunkFactory Create);
    static int32_t Count();
    static const TChunkClassInfo& Item(int32_t Index); // "The chunk class index especified is  out of range."
    static const TChunkClassInfo* FindType(const std::string& Type);
    static const TChunkClassInfo* FindClass(const std::string& ClassName);
};

class TChunkList : public TObject {
public:
    explicit TChunkList(TPNGImage* Owner) : FOwner(Owner) {}
    ~TChunkList() override;

    TPNGImage* Owner() const { return FOwner; }
    int32_t Count() const { return int32_t(FItems.size()); }
    TChunk* Item(int32_t Index) const; // "The chunk index especified is out of the range."
    // Makes a chunk of the class registered for Type (a plain chunk otherwise) at the end
    // or at Index.
    TChunk* Add(const std::string& Type);
    TChunk* Insert(int32_t Index, const std::string& Type);
    TChunk* Append(std::unique_ptr<TChunk> Chunk);
    void Remove(TChunk* Chunk);
    void Delete(int32_t Index);
    void Clear();
    int32_t IndexOf(const TChunk* Chunk) const;
    // The first chunk of the given type, or null.
    TChunk* Find(const std::string& Type) const;
    // Stable reordering (the writer's chunk order).
    void Reorder(const std::function<int(TChunk*, int32_t)>& Rank);

private:
    TPNGImage* FOwner;
    std::vector<std::unique_ptr<TChunk>> FItems;
};

class TPNGImage : public TBitmap {
public:
    TPNGImage();
    ~TPNGImage() override;

    TChunkList& Chunks() { return *FChunkList; }
    uint8_t Filter() const { return FFilter; }
    void SetFilter(uint8_t Value) { FFilter = Value | pfNone; }
    bool Interlaced() const { return FInterlaced; }
    void SetInterlaced(bool Value) { FInterlaced = Value; }
    // With a 32-bit target set, every colour type is decoded into it with the file's alpha
    // (alpha samples, tRNS entries or key) as the fourth byte; the bitmap itself stays
    // empty. Without it the alpha is dropped, as the bitmap cannot hold it.
    bool KeepAlpha() const { return FKeepAlpha; }
    void SetKeepAlpha(bool Value) { FKeepAlpha = Value; }

    // Back to the default chunks: IHDR (0 x 0, depth 2, colour type 3), IDAT, IEND.
    void Clear();
    void LoadFromStream(TStream& Stream) override;
    void SaveToStream(TStream& Stream) override;
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TPNGImage"; }

    // Progress of the decoder and encoder (per cent).
    void ReportProgress(uint8_t PercentDone);

private:
    void ReadChunks(TStream& Stream);
    void ShapeChunksForWriting();
    std::unique_ptr<TChunkList> FChunkList;
    uint8_t FFilter = DefaultPNGFilters;
    bool FInterlaced = false;
    bool FKeepAlpha = false;
};

// "Portable Graphics Network format handler error\r\n\r\n" + Message.
[[noreturn]] void RaisePNGError(const std::string& Message);

// Registers TPNGImage for "png" with the graphic-class registry (once; calling it again
// does nothing). RegisterPictureFormats calls it at start-up.
void RegisterPNGImage();

} // namespace kv
