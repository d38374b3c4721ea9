#include "formats/ClipIcon.h"
#include "formats/GIFImage.h"
#include "formats/PNGImage.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"

#include <gtest/gtest.h>

#include <typeindex>

using namespace kv;

// Which class the registry hands out for each extension is what a picture file opens
// as; two GIF classes are registered and the GIF model must win. The test main has
// registered them as the program's main does.
TEST(PictureFormats, EachExtensionGoesToTheClassTheProgramUses)
{
    const struct {
        const char* Extension;
        const char* ClassName; // null: no class, the file is refused
        std::type_index Type;
    } cases[] = {
        {"bmp", "TBitmap", typeid(TBitmap)},
        {"jpg", "TJPEGImage", typeid(TJPEGImage)},
        {"JPEG", "TJPEGImage", typeid(TJPEGImage)},
        {"ico", "TIcon", typeid(TIcon)},
        {".gif", "TGIFImage", typeid(GIFImage::TGIFImage)},
        {"png", "TPNGImage", typeid(TPNGImage)},
        {"pcx", nullptr, typeid(void)},
        {"tga", nullptr, typeid(void)},
        {"ani", nullptr, typeid(void)},
        {"cur", nullptr, typeid(void)},
        {"wmf", nullptr, typeid(void)},
    };
    for (const auto& c : cases) {
        const TGraphicClass* cls = TPicture::FindGraphicClass(c.Extension);
        if (!c.ClassName) {
            EXPECT_EQ(cls, nullptr) << c.Extension;
            continue;
        }
        ASSERT_NE(cls, nullptr) << c.Extension;
        EXPECT_EQ(cls->Name, c.ClassName) << c.Extension;
        std::unique_ptr<TGraphic> g = cls->Create();
        EXPECT_EQ(std::type_index(typeid(*g)), c.Type) << c.Extension;
    }
    // The open dialogs list the formats newest registration first, each once.
    EXPECT_EQ(TPicture::GraphicExtensions(), (std::vector<std::string>{"gif", "png", "ico", "jpg", "jpeg", "bmp"}));
    EXPECT_EQ(TPicture::GraphicFilter(),
              "All (*.gif;*.png;*.ico;*.jpg;*.jpeg;*.bmp)|*.gif;*.png;*.ico;*.jpg;*.jpeg;*.bmp"
              "|GIF Image (*.gif)|*.gif|Portable Graphics Network (*.png)|*.png|Icons (*.ico)|*.ico"
              "|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp");
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(GIFImage::CF_GIF()));
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(CF_ICON()));
}
