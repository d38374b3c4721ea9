#include "imaging/PnmFilter.h"

#include "imaging/ImagingProc.h"
#include "imaging/PalettedPrep.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace kv {

namespace {

// Bytes from the stream through a buffer, so that text files are not read one call a
// character; binary rows drain the buffer before reading the stream directly.
class TPnmSource {
public:
    explicit TPnmSource(TStream& Stream, int64_t Limit = INT64_MAX) : S(Stream), FLimit(Limit) {}
    bool Get(uint8_t& c)
    {
        if (FPos == FLen && !Fill())
            return false;
        c = FBuf[FPos++];
        return true;
    }
    // False when fewer than Count bytes are left.
    bool Block(uint8_t* Dst, int64_t Count);

private:
    bool Fill();
    TStream& S;
    int64_t FLimit;
    int64_t FTaken = 0;
    uint8_t FBuf[65536];
    size_t FPos = 0, FLen = 0;
};

bool TPnmSource::Fill()
{
    const int64_t want = std::min<int64_t>(int64_t(sizeof FBuf), FLimit - FTaken);
    const int64_t got = want > 0 ? S.Read(FBuf, want) : 0;
    FPos = 0;
    FLen = size_t(got > 0 ? got : 0);
    FTaken += int64_t(FLen);
    return FLen > 0;
}

bool TPnmSource::Block(uint8_t* Dst, int64_t Count)
{
    const int64_t fromBuf = std::min<int64_t>(Count, int64_t(FLen - FPos));
    std::copy(FBuf + FPos, FBuf + FPos + fromBuf, Dst);
    FPos += size_t(fromBuf);
    return IEReadAll(S, Dst + fromBuf, Count - fromBuf);
}

constexpr size_t MaxTokenLength = 32, MaxCommentLength = 4096;

bool IsAlnum(uint8_t c) { return std::isalnum(c) != 0; }

std::string Trimmed(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r\n\f\v");
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n\f\v") - b + 1);
}

// A run of letters and digits, ended by (and consuming) the next other character; or
// "#" and the trimmed rest of the line. False at the end of the data.
bool NextToken(TPnmSource& Src, std::string& Tok)
{
    Tok.clear();
    uint8_t c = 0;
    do {
        if (!Src.Get(c))
            return false;
    } while (c != '#' && !IsAlnum(c));
    if (c == '#') {
        std::string text;
        while (Src.Get(c) && c != '\n' && c != '\r')
            if (text.size() < MaxCommentLength)
                text.push_back(char(c));
        Tok.assign(1, '#');
        Tok.append(Trimmed(text));
        return true;
    }
    do {
        if (Tok.size() < MaxTokenLength)
            Tok.push_back(char(c));
    } while (Src.Get(c) && IsAlnum(c));
    return true;
}

// Digits only and no more than 2^31 - 1; anything else is -1.
int64_t ParseNumber(const std::string& Tok)
{
    if (Tok.empty() || Tok.size() >= MaxTokenLength)
        return -1;
    int64_t v = 0;
    for (char ch : Tok) {
        if (ch < '0' || ch > '9')
            return -1;
        v = v * 10 + (ch - '0');
        if (v > INT32_MAX)
            return -1;
    }
    return v;
}

// The next token that is not a comment; comments go to Info when one is given.
bool NextValue(TPnmSource& Src, std::string& Tok, TStringList* Info)
{
    while (NextToken(Src, Tok)) {
        if (Tok[0] != '#')
            return true;
        if (Info)
            Info->Add(Tok.substr(1));
    }
    return false;
}

struct TPnmHeader {
    int32_t Kind = 0; // 1..6
    int64_t Width = -1, Height = -1, Max = 1;
};

bool ReadHeader(TPnmSource& Src, TPnmHeader& H, TStringList* Info)
{
    std::string tok;
    if (!NextValue(Src, tok, Info))
        return false;
    if (tok.size() != 2 || tok[0] != 'P' || tok[1] < '1' || tok[1] > '6')
        return false;
    H.Kind = tok[1] - '0';
    if (!NextValue(Src, tok, Info))
        return false;
    H.Width = ParseNumber(tok);
    if (!NextValue(Src, tok, Info))
        return false;
    H.Height = ParseNumber(tok);
    if (H.Kind != 1 && H.Kind != 4) {
        if (!NextValue(Src, tok, Info))
            return false;
        H.Max = ParseNumber(tok);
    }
    return true;
}

// Trunc(v / max x 255), values above the maximum held at 255.
uint8_t Scale(int64_t V, int64_t Max) { return V >= Max ? 255 : uint8_t(V * 255 / Max); }

class TPnmReader {
public:
    TPnmReader(TPnmSource& Source, TBitmap& Bitmap, const TPnmHeader& Header, TIOParamsVals& Params,
               TProgressRec& Progress)
        : Src(Source), B(Bitmap), H(Header), P(Params), Prog(Progress), W(int32_t(Header.Width))
    {
    }
    // False when the data ends early or holds something other than numbers.
    bool Row(int32_t y);

private:
    bool TextValue(int64_t& V);
    bool Samples(std::vector<uint8_t>& Raw, int64_t Count, int64_t& SampleBytes);
    bool RowP1(uint8_t* Row);
    bool RowText(uint8_t* Row, int32_t Channels);
    bool RowP4(uint8_t* Row);
    bool RowBinary(uint8_t* Row, int32_t Channels);

    TPnmSource& Src;
    TBitmap& B;
    const TPnmHeader& H;
    TIOParamsVals& P;
    TProgressRec& Prog;
    int32_t W;
    std::vector<uint8_t> Raw;
};

bool TPnmReader::TextValue(int64_t& V)
{
    std::string tok;
    if (!NextValue(Src, tok, P.ImageInfo.get()))
        return false;
    V = ParseNumber(tok);
    return V >= 0;
}

bool TPnmReader::RowP1(uint8_t* Row)
{
    for (int32_t x = 0; x < W;) {
        uint8_t c = 0;
        if (!Src.Get(c))
            return false;
        if (c == '0' || c == '1')
            SetBit(Row, x++, c == '0');
    }
    return true;
}

bool TPnmReader::RowText(uint8_t* Row, int32_t Channels)
{
    for (int32_t x = 0; x < W; ++x) {
        uint8_t px[3];
        for (int32_t ch = 0; ch < Channels; ++ch) {
            int64_t v = 0;
            if (!TextValue(v))
                return false;
            px[ch] = Scale(v, H.Max);
        }
        Row[3 * x] = Channels == 3 ? px[2] : px[0];
        Row[3 * x + 1] = Channels == 3 ? px[1] : px[0];
        Row[3 * x + 2] = px[0];
    }
    return true;
}

bool TPnmReader::RowP4(uint8_t* Row)
{
    const int64_t n = (int64_t(W) + 7) / 8;
    if (!Src.Block(Row, n))
        return false;
    for (int64_t i = 0; i < n; ++i)
        Row[i] = uint8_t(~Row[i]);
    return true;
}

bool TPnmReader::RowBinary(uint8_t* Row, int32_t Channels)
{
    const int64_t sampleBytes = H.Max > 255 ? 2 : 1;
    const int64_t count = int64_t(W) * Channels;
    Raw.resize(size_t(count * sampleBytes));
    if (!Src.Block(Raw.data(), count * sampleBytes))
        return false;
    // Samples run from 0 to the file's maximum in P5 and P6 alike, as netpbm reads them.
    const bool asIs = sampleBytes == 1 && H.Max == 255;
    for (int32_t x = 0; x < W; ++x) {
        uint8_t px[3];
        for (int32_t ch = 0; ch < Channels; ++ch) {
            const int64_t i = int64_t(x) * Channels + ch;
            const int64_t v = sampleBytes == 2 ? (Raw[size_t(2 * i)] << 8) | Raw[size_t(2 * i + 1)] : Raw[size_t(i)];
            px[ch] = asIs ? uint8_t(v) : Scale(v, H.Max);
        }
        Row[3 * x] = Channels == 3 ? px[2] : px[0];
        Row[3 * x + 1] = Channels == 3 ? px[1] : px[0];
        Row[3 * x + 2] = px[0];
    }
    return true;
}

bool TPnmReader::Row(int32_t y)
{
    uint8_t* row = B.ScanLine(y);
    switch (H.Kind) {
    case 1: return RowP1(row);
    case 2: return RowText(row, 1);
    case 3: return RowText(row, 3);
    case 4: return RowP4(row);
    case 5: return RowBinary(row, 1);
    default: return RowBinary(row, 3);
    }
}

void SetPnmParams(TIOParamsVals& P, const TPnmHeader& H)
{
    const bool oneBit = H.Kind == 1 || H.Kind == 4;
    const bool colour = H.Kind == 3 || H.Kind == 6;
    P.BitsPerSample = oneBit ? 1 : 8;
    P.SamplesPerPixel = colour ? 3 : 1;
    P.FreeColorMap();
    P.Width = int32_t(H.Width);
    P.Height = int32_t(H.Height);
    P.DpiX = IEScreenDpiX();
    P.DpiY = IEScreenDpiY();
}

} // namespace

bool IsPnmStream(TStream& Stream)
{
    const int64_t pos = Stream.Position();
    // 501 tokens of a sane header fit easily in 8 KiB.
    TPnmSource src(Stream, 8192);
    std::string tok;
    int32_t tokens = 0;
    std::vector<std::string> values;
    while (tokens++ < 501 && values.size() < 3 && NextToken(src, tok))
        if (tok[0] != '#')
            values.push_back(tok);
    Stream.Seek(pos, soBeginning);
    if (values.empty() || values[0].size() != 2 || values[0][0] != 'P' || values[0][1] < '1' || values[0][1] > '6')
        return false;
    const int64_t w = values.size() > 1 ? ParseNumber(values[1]) : -1;
    const int64_t hgt = values.size() > 2 ? ParseNumber(values[2]) : -1;
    return w >= 1 && hgt >= 1;
}

void LoadPnmFromStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool ParamsOnly, TProgressRec& Progress)
{
    Params.ImageInfo->Clear();
    TPnmSource src(Stream);
    TPnmHeader h;
    if (!ReadHeader(src, h, Params.ImageInfo.get()) || h.Width < 1 || h.Height < 1 || h.Max < 1 || h.Max > 65535) {
        Progress.SetAborting();
        return;
    }
    SetPnmParams(Params, h);
    Progress.Counter = 0;
    Progress.Factor = 100.0 / double(h.Height);
    if (ParamsOnly)
        return;
    // Every kind takes at least one bit a pixel: a picture the stream cannot fill is
    // refused before the bitmap is allocated.
    const int64_t left = Stream.Size() - Stream.Position();
    if (!PixelBufferSizeOk(h.Width, h.Height) || h.Width * h.Height > (left + 65536) * 8) {
        Progress.SetAborting();
        return;
    }
    Bitmap.SetSize(1, 1);
    Bitmap.SetPixelFormat(Params.BitsPerSample == 1 ? pf1bit : pf24bit);
    Bitmap.SetSize(int32_t(h.Width), int32_t(h.Height));
    TPnmReader reader(src, Bitmap, h, Params, Progress);
    for (int32_t y = 0; y < int32_t(h.Height); ++y) {
        if (Progress.IsAborting())
            return;
        if (!reader.Row(y)) {
            Progress.SetAborting();
            return;
        }
        ++Progress.Counter;
        Progress.Report();
    }
}

// ---- Writer ---------------------------------------------------------------------------

namespace {

std::string PnmHead(const char* Magic, const TIOParamsVals& P, int32_t W, int32_t H, bool WithMax)
{
    std::string s = Magic;
    for (int32_t i = 0; i < P.ImageInfo->Count(); ++i)
        s += "\n# " + P.ImageInfo->Strings(i) + "\n";
    s += IntToStr(W) + " " + IntToStr(H) + (WithMax ? " 255" : "") + "\n";
    return s;
}

// Each row adds one to the counter before progress is reported.
bool WriteRow(TStream& S, const std::vector<uint8_t>& Row, TProgressRec& Progress)
{
    if (!IEWriteChecked(S, Row.data(), int64_t(Row.size()), Progress))
        return false;
    ++Progress.Counter;
    Progress.Report();
    return !Progress.IsAborting();
}

} // namespace

void SavePnmToStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress)
{
    const bool oneBit = (Params.BitsPerSample == 1 && Params.SamplesPerPixel == 1) || Bitmap.PixelFormat() == pf1bit;
    const bool grey = !oneBit && Params.BitsPerSample == 8 && Params.SamplesPerPixel == 1;
    TIEPreparedPicture pic = oneBit ? IEPrepare1Bit(Bitmap, Progress) : IEPrepare24Bit(Bitmap);
    const TBitmap& b = *pic.Bitmap;
    const int32_t w = b.Width(), h = b.Height();
    const std::string head = PnmHead(oneBit ? "P4 " : grey ? "P5 " : "P6 ", Params, w, h, !oneBit);
    if (!IEWriteChecked(Stream, head.data(), int64_t(head.size()), Progress))
        return;
    Progress.Counter = 0;
    Progress.Factor = h > 0 ? 100.0 / h : 0.0;
    std::vector<uint8_t> row(size_t(oneBit ? (int64_t(w) + 7) / 8 : grey ? w : int64_t(w) * 3));
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = b.ScanLine(y);
        for (size_t x = 0; x < row.size(); ++x) {
            if (oneBit)
                row[x] = uint8_t(~src[x]);
            else if (grey)
                row[x] = uint8_t(Luma(TRGB{src[3 * x], src[3 * x + 1], src[3 * x + 2]}));
            else
                row[x] = src[x - x % 3 + 2 - x % 3];
        }
        if (!WriteRow(Stream, row, Progress))
            return;
    }
}

} // namespace kv
