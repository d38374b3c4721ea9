// What several fuzz targets share: the Qt application that window code needs, and a
// reader that turns the input into small values (zero once the input runs out).
#pragma once

#include <QApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kv::fuzz {

// The application object lives for the whole process and is deliberately never
// destroyed: tearing it down from an exit handler, after Qt's own statics, crashes.
inline void EnsureApplication(const char* Name)
{
    if (QApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int Argc = 1;
    static std::string Stored(Name);
    static char* Argv[] = {Stored.data(), nullptr};
    static QApplication* App = new QApplication(Argc, Argv);
    (void)App;
}

class TInputReader {
public:
    TInputReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
    bool Left(size_t N) const { return FSize - FPos >= N; }
    uint8_t Next8() { return FPos < FSize ? FData[FPos++] : 0; }
    // Four bytes, little-endian.
    uint32_t Next32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(Next8()) << (8 * i);
        return v;
    }
    // Any float at all: NaN and infinities included.
    float NextRawFloat()
    {
        const uint32_t bits = Next32();
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

} // namespace kv::fuzz
