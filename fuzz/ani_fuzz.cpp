// TAnimatedCursorImage.LoadFromStream and TIconList.LoadFromStream over arbitrary bytes.
#include "formats/AniFile.h"
#include "formats/IcoList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kv;
    try {
        TReadOnlyMemoryStream s(data, int64_t(size));
        TAnimatedCursorImage ani;
        ani.LoadFromStream(s);
        TIconList list;
        list.Assign(&ani);
    } catch (const Exception&) {
    }
    try {
        TReadOnlyMemoryStream s(data, int64_t(size));
        TIconList list;
        list.LoadFromStream(s);
        TMemoryStream out;
        list.SaveToStream(out);
    } catch (const Exception&) {
    }
    return 0;
}
