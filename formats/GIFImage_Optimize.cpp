// GIFImage: the optimising pass of the picture. It makes the stream smaller without
// changing what any frame shows: colour tables sorted by use, pixels that repeat the
// frame below made transparent, transparent edges cut off, invisible frames and
// extensions that change nothing dropped. Every step keeps the composed frames as the
// GIF disposal rules build them; where a shortcut would change them, it is not taken.
#include "formats/GIFImage.h"

#include <algorithm>

namespace kv::GIFImage {

namespace {

uint8_t DisposalOf(const TGIFSubImage& Sub)
{
    const TGIFGraphicControlExtension* gce = Sub.GraphicControlExtension();
    return gce ? gce->Disposal() : dmNone;
}

// Disposal methods that leave the frame on the screen (4 to 7 are not defined, and the
// painter draws such frames not at all, so nothing may be built on them).
bool Stays(uint8_t Disposal) { return Disposal == dmNone || Disposal == dmNoDisposal; }

// The transparent index in force, or -1.
int32_t TransparentIndex(const TGIFSubImage& Sub)
{
    const TGIFGraphicControlExtension* gce = Sub.GraphicControlExtension();
    return Sub.Transparent() && gce ? gce->TransparentColorIndex() : -1;
}

bool Contains(const TRect& Outer, const TRect& Inner)
{
    return Inner.Left >= Outer.Left && Inner.Top >= Outer.Top && Inner.Right <= Outer.Right &&
           Inner.Bottom <= Outer.Bottom;
}

// The colour of an index, or false when the table has no such entry.
bool ColorOf(TGIFColorMap& Map, uint8_t Index, TGIFColor& Color)
{
    if (Index >= Map.Count())
        return false;
    const uint8_t* p = Map.Data() + size_t(Index) * 3;
    Color = TGIFColor{p[0], p[1], p[2]};
    return true;
}

bool HasOnlyGraphicControl(TGIFSubImage& Sub)
{
    TGIFExtensionList& list = Sub.Extensions();
    for (int32_t i = 0; i < list.Count(); ++i)
        if (list.Extensions(i) != Sub.GraphicControlExtension())
            return false;
    return true;
}

TGIFGraphicControlExtension& EnsureGraphicControl(TGIFSubImage& Sub)
{
    if (!Sub.GraphicControlExtension())
        Sub.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(&Sub));
    return *Sub.GraphicControlExtension();
}

// Replaces the frame's pixels by the rectangle R of them (in frame coordinates).
void CutTo(TGIFSubImage& Sub, const TRect& R)
{
    const int32_t w = Sub.Width();
    std::vector<uint8_t> old = std::move(Sub.Data());
    const uint16_t left = uint16_t(Sub.Left() + R.Left), top = uint16_t(Sub.Top() + R.Top);
    Sub.SetSize(uint16_t(R.Width()), uint16_t(R.Height()));
    for (int32_t y = 0; y < R.Height(); ++y)
        std::copy_n(old.begin() + ptrdiff_t(size_t(R.Top + y) * size_t(w) + size_t(R.Left)), R.Width(),
                    Sub.Data().begin() + ptrdiff_t(size_t(y) * size_t(R.Width())));
    Sub.SetLeft(left);
    Sub.SetTop(top);
}

// --- the phases ------------------------------------------------------------------------

void OptimizeColorTables(TGIFImage& Image, const std::function<void()>& Step)
{
    if (Image.GlobalColorMap().Count() > 0)
        Image.GlobalColorMap().Optimize();
    for (int32_t i = 0; i < Image.Images().Count(); ++i) {
        if (Image.Images()[i]->ColorMap().Count() > 0)
            Image.Images()[i]->ColorMap().Optimize();
        Step();
    }
}

void CleanupSettings(TGIFImage& Image, const std::function<void()>& Step)
{
    TGIFImageList& images = Image.Images();
    for (int32_t i = 0; i < images.Count(); ++i) {
        TGIFSubImage& sub = *images[i];
        int32_t t = TransparentIndex(sub);
        if (t >= 0 && std::find(sub.Data().begin(), sub.Data().end(), uint8_t(t)) == sub.Data().end())
            sub.GraphicControlExtension()->SetTransparent(false);
    }
    for (int32_t i = 0; i < images.Count(); ++i) {
        TGIFSubImage& sub = *images[i];
        uint8_t disposal = DisposalOf(sub);
        if (i + 1 < images.Count() && (disposal == dmBackground || disposal == dmPrevious)) {
            // The restore is not needed when the next frame paints over all of this one
            // and keeps what it covered (a restore-to-previous next frame would bring
            // back what this one's disposal left).
            TGIFSubImage& next = *images[i + 1];
            uint8_t nextDisposal = DisposalOf(next);
            if (!next.Transparent() && !next.Empty() && nextDisposal <= dmBackground &&
                Contains(next.BoundsRect(), sub.BoundsRect()))
                sub.GraphicControlExtension()->SetDisposal(dmNone);
        }
        Step();
    }
}

// The later frame's pixels that show what the earlier one shows at the same place
// become transparent.
void MergeFrames(TGIFSubImage& Earlier, TGIFSubImage& Later)
{
    TRect overlap;
    overlap.Left = std::max(Earlier.BoundsRect().Left, Later.BoundsRect().Left);
    overlap.Top = std::max(Earlier.BoundsRect().Top, Later.BoundsRect().Top);
    overlap.Right = std::min(Earlier.BoundsRect().Right, Later.BoundsRect().Right);
    overlap.Bottom = std::min(Earlier.BoundsRect().Bottom, Later.BoundsRect().Bottom);
    if (overlap.Width() <= 0 || overlap.Height() <= 0)
        return;
    TGIFColorMap& earlierMap = Earlier.ActiveColorMap();
    TGIFColorMap& laterMap = Later.ActiveColorMap();
    const bool sameTable = &earlierMap == &laterMap;
    const int32_t earlierT = TransparentIndex(Earlier), laterT = TransparentIndex(Later);

    std::vector<size_t> repeated; // offsets into Later's data
    for (int32_t y = overlap.Top; y < overlap.Bottom; ++y)
        for (int32_t x = overlap.Left; x < overlap.Right; ++x) {
            size_t at = size_t(y - Later.Top()) * Later.Width() + size_t(x - Later.Left());
            uint8_t lp = Later.Data()[at];
            uint8_t ep = Earlier.Pixels(x - Earlier.Left(), y - Earlier.Top());
            if (lp == laterT || ep == earlierT)
                continue;
            bool same = sameTable && lp == ep;
            TGIFColor lc, ec;
            if (!same && ColorOf(laterMap, lp, lc) && ColorOf(earlierMap, ep, ec))
                same = lc == ec;
            if (same)
                repeated.push_back(at);
        }
    if (repeated.empty())
        return;

    int32_t t = laterT;
    if (t < 0) {
        // An entry that no pixel kept visible uses; else a new one, while the table
        // can take it. A full table in use leaves the frame as it is.
        std::vector<uint32_t> kept(256, 0);
        for (uint8_t p : Later.Data())
            ++kept[p];
        for (size_t at : repeated)
            --kept[Later.Data()[at]];
        for (int32_t i = 0; i < laterMap.Count() && t < 0; ++i)
            if (kept[size_t(i)] == 0)
                t = i;
        if (t < 0) {
            if (laterMap.Count() >= TGIFColorMap::MaxColors)
                return;
            t = laterMap.Add(TGIFColor{0, 0, 0});
        }
        TGIFGraphicControlExtension& gce = EnsureGraphicControl(Later);
        gce.SetTransparentColorIndex(uint8_t(t));
        gce.SetTransparent(true);
    }
    for (size_t at : repeated)
        Later.Data()[at] = uint8_t(t);
    Later.FreeRender();
}

void MergePhase(TGIFImage& Image, const std::function<void()>& Step)
{
    TGIFImageList& images = Image.Images();
    for (int32_t i = images.Count() - 1; i >= 1; --i) {
        int32_t k = i - 1;
        while (k > 0 && DisposalOf(*images[k]) == dmPrevious)
            --k;
        TGIFSubImage& earlier = *images[k];
        TGIFSubImage& later = *images[i];
        if (!earlier.Empty() && !later.Empty() && Stays(DisposalOf(earlier)))
            MergeFrames(earlier, later);
        Step();
    }
}

void CropPhase(TGIFImage& Image, const std::function<void()>& Step)
{
    TGIFImageList& images = Image.Images();
    for (int32_t i = images.Count() - 1; i >= 0; --i) {
        TGIFSubImage& sub = *images[i];
        const int32_t t = TransparentIndex(sub);
        // A restore to the background covers the frame's whole rectangle, so cutting
        // the rectangle would change what the next frame is drawn over.
        if (t < 0 || sub.Empty() || DisposalOf(sub) == dmBackground) {
            Step();
            continue;
        }
        const int32_t w = sub.Width(), h = sub.Height();
        TRect box{w, h, 0, 0};
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (sub.Pixels(x, y) != t) {
                    box.Left = std::min(box.Left, x);
                    box.Top = std::min(box.Top, y);
                    box.Right = std::max(box.Right, x + 1);
                    box.Bottom = std::max(box.Bottom, y + 1);
                }
        if (box.Right > box.Left) {
            if (box.Width() != w || box.Height() != h)
                CutTo(sub, box);
        } else if (i > 0 && HasOnlyGraphicControl(sub)) {
            // Shows nothing: its time goes to the frame before it.
            uint16_t delay = sub.GraphicControlExtension()->Delay();
            TGIFSubImage& previous = *images[i - 1];
            if (previous.GraphicControlExtension() || delay > 0) {
                TGIFGraphicControlExtension& gce = EnsureGraphicControl(previous);
                gce.SetDelay(uint16_t(std::min<int32_t>(65535, gce.Delay() + delay)));
            }
            images.Delete(i);
        } else if (w > 1 || h > 1) {
            // The first frame and frames that carry other extensions (a loop, a
            // comment) stay, as one transparent pixel.
            CutTo(sub, TRect{0, 0, 1, 1});
        }
        Step();
    }
}

void CleanupExtensions(TGIFImage& Image, const std::function<void()>& Step)
{
    TGIFImageList& images = Image.Images();
    // The painter plays by the first loop extension it meets; later ones do nothing.
    const TGIFExtension* firstLoop = nullptr;
    for (int32_t i = 0; i < images.Count() && !firstLoop; ++i)
        for (int32_t e = 0; e < images[i]->Extensions().Count() && !firstLoop; ++e)
            if (dynamic_cast<TGIFAppExtNSLoop*>(images[i]->Extensions().Extensions(e)))
                firstLoop = images[i]->Extensions().Extensions(e);
    for (int32_t i = images.Count() - 1; i >= 0; --i) {
        TGIFSubImage& sub = *images[i];
        const bool single = images.Count() == 1;
        TGIFExtensionList& list = sub.Extensions();
        for (int32_t e = list.Count() - 1; e >= 0; --e) {
            TGIFExtension* ext = list.Extensions(e);
            if (dynamic_cast<TGIFCommentExtension*>(ext) || dynamic_cast<TGIFTextExtension*>(ext) ||
                dynamic_cast<TGIFUnknownAppExtension*>(ext))
                list.Delete(e);
            else if (dynamic_cast<TGIFAppExtNSLoop*>(ext)) {
                if (single || ext != firstLoop)
                    list.Delete(e);
            } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext)) {
                if ((gce->Delay() == 0 || single) && !gce->Transparent() && !gce->UserInput() &&
                    (Stays(gce->Disposal()) || single))
                    list.Delete(e);
            }
        }
        if (sub.Empty() && list.Count() == 0)
            images.Delete(i);
        Step();
    }
}

} // namespace

void TGIFImage::Optimize(TGIFOptimizeOptions Options, uint8_t AReductionMethod, uint8_t, int32_t)
{
    if (Empty())
        return;
    // Checked before anything changes, so a refused pass leaves the picture as it was.
    if ((Options & ooReduceColors) && !(Options & ooCleanup) && AReductionMethod == crCustom)
        throw GIFException("Invalid reduction method");
    StopDraw();
    std::lock_guard<std::recursive_mutex> guard(FPaintersLock);
    const int32_t total = 6 * FImages.Count();
    int32_t done = 0;
    auto step = [&] {
        ++done;
        Progress(this, psRunning, std::min(100, done * 100 / total), "Optimizing...");
    };
    Progress(this, psStarting, 0, "Optimizing...");
    try {
        if (Options & ooColorMap)
            OptimizeColorTables(*this, step);
        if (Options & ooCleanup)
            CleanupSettings(*this, step);
        if (Options & ooMerge)
            MergePhase(*this, step);
        if (Options & ooCrop)
            CropPhase(*this, step);
        if (Options & ooCleanup)
            CleanupExtensions(*this, step);
    } catch (...) {
        Progress(this, psEnding, 0, "Optimizing...");
        throw;
    }
    // Every rendered form is out of date.
    DropBitmap();
    DeletePalette(FPalette);
    FPalette = nullptr;
    for (int32_t i = 0; i < FImages.Count(); ++i)
        FImages[i]->FreeRender();
    Progress(this, psEnding, 100, "Optimizing...");
    Changed(this);
}

void TGIFImage::WriteData(TStream& Stream)
{
    if (GIFSettings().OptimizeOnStream)
        Optimize(ooAll, crNone, dkNearest, 8);
    SaveToStream(Stream);
}

} // namespace kv::GIFImage
