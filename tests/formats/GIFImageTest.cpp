#include "formats/GIFImage.h"
#include <gtest/gtest.h>
using namespace kv;
using namespace kv::GIFImage;
TEST(GIFImageSmoke, Builds) { TGIFImage img; EXPECT_TRUE(img.Empty()); }
