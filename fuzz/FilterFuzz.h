// What every fuzz target of the imaging library's filters starts from: the first byte
// picks the target's variations, the rest is the file; a bitmap, a parameter set and a
// progress record whose abort flag the reader sets.
#pragma once

#include "imaging/IOParams.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <cstddef>
#include <cstdint>

namespace kv {

struct TFilterFuzz {
    TFilterFuzz(const uint8_t* Data, size_t Size) : mode(Data[0]), stream(Data + 1, int64_t(Size - 1))
    {
        progress.Aborting = &aborting;
    }
    uint8_t mode;
    TReadOnlyMemoryStream stream;
    TBitmap bitmap;
    TIOParamsVals params{nullptr};
    bool aborting = false;
    TProgressRec progress;
};

} // namespace kv
