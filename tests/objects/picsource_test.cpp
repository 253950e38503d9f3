// Image sources: the plug-in walk (admitted, explicit-only, disabled),
// the fallback to the inbuilt readers, percent sizes, alpha modes and
// their errors, custom sources re-rendered, reference counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/plugins/qx_pluginapi.h"
#include "core/plugins/qx_plugins.h"
#include "core/runtime/qx_lists.h"
#include "display/qx_bitmap.h"
#include "objects/formats/qx_picformats.h"
#include "objects/qx_picsource.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace fs = std::filesystem;

namespace {

// A loader plug-in in process: takes names ending in ".fake" and gives a
// 4 x 2 picture; as a scalable picture it renders at any size.
int loads = 0, frees = 0;
uint32_t fakePixels[64 * 64];
bool fakeScalable = false;

void *fakeLoad(const char *file, qxImageLoaderRecord *rec, const char *)
{
    std::string name = file;
    if (name.size() < 5 || name.substr(name.size() - 5) != ".fake") return nullptr;
    ++loads;
    rec->width = rec->width && fakeScalable ? rec->width : 4;
    rec->height = rec->height && fakeScalable ? rec->height : 2;
    rec->scalable = fakeScalable;
    rec->flags |= fakeScalable ? 1 : 0;
    rec->naturalWidth = 4, rec->naturalHeight = 2;
    return &loads;
}
void *fakeGet(void *, qxImageLoaderRecord *rec, qxPluginInfo *, uint32_t)
{
    for (auto &p : fakePixels) p = 0x00ABCDEF;
    rec->pitch = 0;
    return fakePixels;
}
void fakeFree(void *) { ++frees; }
int fakeTransform(void *, const double *, int32_t, int32_t, qxImageLoaderRecord *) { return 1; }

struct Sources : ::testing::Test {
    qxPluginInfo info{};
    fs::path dir;
    void SetUp() override
    {
        info.name = "fakeloader";
        info.entry[QX_EP_LoadImage] = reinterpret_cast<void *>(fakeLoad);
        info.entry[QX_EP_GetImage] = reinterpret_cast<void *>(fakeGet);
        info.entry[QX_EP_FreeImage] = reinterpret_cast<void *>(fakeFree);
        info.entry[QX_EP_TransformImage] = reinterpret_cast<void *>(fakeTransform);
        ASSERT_EQ(qxAddToPluginList(qxCapabilityList(QX_CAP_IMAGELOADER), &info), 0);
        loads = frees = 0;
        fakeScalable = false;
        dir = fs::temp_directory_path() / ("qxsrc." + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        qxPluginListNode **list = qxCapabilityList(QX_CAP_IMAGELOADER);
        while (*list) {
            qxPluginListNode *gone = *list;
            *list = gone->next;
            qxFree(gone);
        }
        fs::remove_all(dir);
    }
    std::string png(const char *name, bool alpha, uint32_t w = 10, uint32_t h = 6)
    {
        std::vector<uint32_t> px(size_t(w) * h, alpha ? 0x80FF0000u : 0x00FF0000u);
        std::string path = (dir / name).string();
        qxPngSaveRequest r{path.c_str(), px.data(), int32_t(w * 4), w, h, alpha, 0};
        qxSavePNG(&r);
        return path;
    }
    int open(const std::string &file, const char *loaders, int alphaMode, int transparent, int32_t w, int32_t h,
             qxPicSource **s, uint32_t *width, uint32_t *height, qxPluginInfo **plugin = nullptr, uint32_t *hasAlpha = nullptr)
    {
        return qxOpenImage(file.c_str(), loaders, nullptr, nullptr, 0xFFFFFFFF, 0, alphaMode, transparent, w, h, 0, s,
                           nullptr, nullptr, nullptr, width, height, nullptr, hasAlpha, nullptr, plugin);
    }
};

TEST_F(Sources, PluginWalkHonoursTheLoaderList)
{
    std::string fake = (dir / "x.fake").string();
    qxPicSource *s = nullptr;
    uint32_t w = 0, h = 0;
    qxPluginInfo *plugin = nullptr;
    ASSERT_EQ(open(fake, "", 0, 0, 0, 0, &s, &w, &h, &plugin), 0);
    EXPECT_EQ(plugin, &info);
    EXPECT_STREQ(qxLoaderName(plugin), "fakeloader");
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(qxPicSourceBitMap(s)[0], 0x00ABCDEFu);
    qxPicSourceRetain(s);
    qxPicSourceRelease(s);
    EXPECT_EQ(frees, 0);
    qxPicSourceRelease(s);
    EXPECT_EQ(frees, 1);
    // Not admitted, explicit only, disabled: the inbuilt readers get the file and know no ".fake".
    EXPECT_EQ(open(fake, "inbuilt", 0, 0, 0, 0, &s, &w, &h), ERR_READFILE); // there is no such file
    info.explicitOnly = 1;
    EXPECT_EQ(open(fake, "", 0, 0, 0, 0, &s, &w, &h), ERR_READFILE);
    ASSERT_EQ(open(fake, "fakeloader", 0, 0, 0, 0, &s, &w, &h), 0);
    qxPicSourceRelease(s);
    info.explicitOnly = 0;
    info.disabled = 1;
    EXPECT_NE(open(fake, "fakeloader", 0, 0, 0, 0, &s, &w, &h), 0);
    info.disabled = 0;
    EXPECT_EQ(loads, 2);
    EXPECT_STREQ(qxLoaderName(nullptr), "inbuilt");
    EXPECT_STREQ(qxLoaderName(reinterpret_cast<qxPluginInfo *>(uintptr_t(1))), "native");
}

TEST_F(Sources, PercentSizesAndScaledCopies)
{
    std::string file = png("a.png", false);
    qxPicSource *s = nullptr;
    uint32_t w = 0, h = 0;
    ASSERT_EQ(open(file, "", 0, 0, -50, 0, &s, &w, &h), 0);
    EXPECT_EQ(w, 5u);
    EXPECT_EQ(h, 6u);
    EXPECT_NE(qxPicSourceBitMap(s), s->pixels);
    EXPECT_EQ(qxPicSourceBitMap(s)[4], 0x00FF0000u);
    uint32_t nw = 0, nh = 0;
    qxPicSourceSize(s, &nw, &nh);
    EXPECT_EQ(nw, 10u);
    qxPicSourceRelease(s);
    ASSERT_EQ(open(file, "", 0, 0, 10, 6, &s, &w, &h), 0);
    EXPECT_EQ(qxPicSourceBitMap(s), s->pixels);
    EXPECT_EQ(qxPicSourceOwnsPixels(s), 0u);
    qxPicSourceRelease(s);
    // A scalable picture renders again at the wanted size and keeps its natural size.
    fakeScalable = true;
    ASSERT_EQ(open((dir / "v.fake").string(), "", 0, 0, 40, 20, &s, &w, &h), 0);
    EXPECT_EQ(w, 40u);
    qxPicSourceSize(s, &nw, &nh);
    EXPECT_EQ(nw, 4u);
    EXPECT_EQ(nh, 2u);
    qxPicSourceRelease(s);
}

TEST_F(Sources, AlphaModesAndTransparentPens)
{
    std::string opaque = png("o.png", false), alpha = png("a.png", true);
    qxPicSource *s = nullptr;
    uint32_t w, h, hasAlpha = 9;
    EXPECT_EQ(open(opaque, "", 1, 0, 0, 0, &s, &w, &h), ERR_NOALPHA);
    EXPECT_EQ(std::string(qxGetErrorString()), opaque);
    ASSERT_EQ(open(opaque, "", 2, 0, 0, 0, &s, &w, &h), 0);
    qxPicSourceRelease(s);
    void *alphaPlane = nullptr;
    ASSERT_EQ(qxOpenImage(alpha.c_str(), "", nullptr, nullptr, 0xFFFFFFFF, 0, 1, 0, -200, 0, 1, &s, &alphaPlane,
                          nullptr, nullptr, &w, &h, nullptr, &hasAlpha, nullptr, nullptr),
              0);
    EXPECT_EQ(hasAlpha, 1u);
    EXPECT_EQ(w, 20u);
    ASSERT_NE(alphaPlane, nullptr);
    qxFreeAlphaBitMap(static_cast<qxBitMap *>(alphaPlane));
    qxPicSourceRelease(s);
    EXPECT_EQ(open(opaque, "", 0, 1, 0, 0, &s, &w, &h), ERR_NOTRANSPARENCY);
    // A GIF's transparent index counts as an alpha channel.
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                                0x21, 0xF9, 4, 1, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x0C, 0x0A, 0, 0x3B};
    std::string gifPath = (dir / "t.gif").string();
    FILE *f = std::fopen(gifPath.c_str(), "wb");
    std::fwrite(gif.data(), 1, gif.size(), f);
    std::fclose(f);
    uint32_t transparent = 0;
    ASSERT_EQ(qxOpenImage(gifPath.c_str(), "", nullptr, nullptr, 0xFFFFFFFF, 0, 0, 1, 0, 0, 0, &s, nullptr, nullptr,
                          &transparent, &w, &h, nullptr, &hasAlpha, nullptr, nullptr),
              0);
    EXPECT_EQ(transparent, 0xFFFFFFFFu);
    EXPECT_EQ(hasAlpha, 1u);
    qxPicSourceRelease(s);
}

int renders = 0, closes = 0;
uint32_t customPixels[8 * 8];
void *customGet(void *, qxImageLoaderRecord *info)
{
    info->pitch = 32;
    return customPixels;
}
void customClose(void *) { ++closes; }
int customRender(void *, const double *block, int32_t, int32_t, qxImageLoaderRecord *)
{
    ++renders;
    return block[0] > 0;
}

TEST(CustomSources, RenderAgainAndCloseOnce)
{
    qxPicSource *s = qxPicSourceNewCustom(nullptr, customGet, customClose, customRender, nullptr, 8, 8, 0);
    ASSERT_NE(s, nullptr);
    const double twice[4] = {2, 0, 0, 2}, flat[4] = {0, 0, 0, 0};
    uint32_t *px = nullptr, pitch = 0;
    EXPECT_EQ(qxPicSourceTransform(nullptr, s, twice, 0, 0, 16, 16, nullptr, nullptr, &px, nullptr, nullptr, &pitch), 0);
    EXPECT_EQ(px, customPixels);
    EXPECT_EQ(pitch, 32u);
    EXPECT_EQ(qxPicSourceTransform(nullptr, s, flat, 0, 0, 16, 16, nullptr, nullptr, &px, nullptr, nullptr, &pitch),
              ERR_TFIMAGE);
    // As a bitmap of the rendered size.
    void *bitmap = nullptr, *alpha = reinterpret_cast<void *>(1);
    ASSERT_EQ(qxPicSourceTransform(nullptr, s, twice, 0, 0, 8, 8, nullptr, nullptr, nullptr, &bitmap, &alpha, nullptr), 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(alpha, nullptr); // the rendering reported no alpha
    qxFreeBitMap(static_cast<qxBitMap *>(bitmap));
    qxPicSourceRelease(s);
    EXPECT_EQ(closes, 1);
    // A source that is neither a plug-in's nor custom cannot render again.
    qxPicSource plain{};
    plain.refCount = 1;
    EXPECT_EQ(qxPicSourceTransform(nullptr, &plain, twice, 0, 0, 6, 6, nullptr, nullptr, &px, nullptr, nullptr, &pitch),
              ERR_TFIMAGE);
}

} // namespace
