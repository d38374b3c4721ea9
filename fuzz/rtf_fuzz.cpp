// The RTF reader over arbitrary bytes: a document or ERtfError, and whatever it read
// must write out and read back to the same document.
#include "platform/RichText.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const kv::TRtfDocument doc = kv::ReadRtf(bytes);
        if (!(kv::ReadRtf(kv::WriteRtf(doc)) == doc))
            std::abort();
    } catch (const kv::ERtfError&) {
    }
    return 0;
}
