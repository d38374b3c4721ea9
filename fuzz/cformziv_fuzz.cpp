// CForm.ziv reader: any bytes give either "no record" or a record whose clamped bounds
// lie on the screen.
#include "editor/Settings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kv::TReadOnlyMemoryStream s(data, int64_t(size));
    kv::TWindowRecord r;
    if (!kv::ReadWindowRecord(s, r))
        return 0;
    if (r.State > kv::wsMaximized)
        std::abort();
    const kv::TRect screen = kv::Rect(0, 0, 1920, 1080);
    kv::TWindowRecord c = kv::ClampWindowRecord(r, screen);
    if (c.Width < 1 || c.Height < 1 || c.Left < 0 || c.Top < 0 || c.Left + c.Width > 1920 || c.Top + c.Height > 1080)
        std::abort();
    kv::TMemoryStream m;
    kv::WriteWindowRecord(m, r);
    m.SetPosition(0);
    kv::TWindowRecord back;
    if (!kv::ReadWindowRecord(m, back) || !(back == r))
        std::abort();
    return 0;
}
