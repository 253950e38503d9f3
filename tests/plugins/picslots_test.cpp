// Graphics host slots 0-3 (pictures) used by a C plug-in through the table.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/commands/qx_commands.h"
#include "core/plugins/qx_plugins.h"
#include "main/qx_globals.h"
#include "objects/formats/qx_picformats.h"

namespace {

TEST(PictureSlots, PluginLoadsIdentifiesAndFreesPictures)
{
    qxSetTag(QX_TAG_QUIET, 1);
    qxLinkLayers();
    qxPluginHandle *h = nullptr;
    uint32_t caps = 0;
    ASSERT_EQ(qxOpenPluginLibrary((std::string(QX_KIT_DIR) + "/kitpics.qxp").c_str(), &caps, &h), 0);
    auto slots = reinterpret_cast<void (*)(const char *, uint32_t *)>(dlsym(h->library, "KitPictureSlots"));
    ASSERT_NE(slots, nullptr);
    std::string dir = std::filesystem::temp_directory_path() / ("qxpicslots." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    uint32_t px[6] = {0x80112233, 0xFF445566, 0, 0, 0, 0};
    for (uint32_t alpha : {1u, 0u}) {
        std::string file = dir + (alpha ? "/a.png" : "/b.png");
        qxPngSaveRequest r{file.c_str(), px, 3 * 4, 3, 2, alpha, 0};
        qxSavePNG(&r);
        ASSERT_EQ(r.error, 0u);
        uint32_t out[9] = {};
        slots(file.c_str(), out);
        EXPECT_EQ(out[0], 1u);
        EXPECT_EQ(out[1], 3u);
        EXPECT_EQ(out[2], 2u);
        EXPECT_EQ(out[3], alpha);
        // Red and blue exchanged; a picture without alpha is opaque.
        EXPECT_EQ(out[4], alpha ? 0x80332211u : 0xFF332211u);
        EXPECT_EQ(out[5], alpha ? 0x80112233u : 0x00112233u);
        EXPECT_EQ(out[6], 6u); // the width at scale 2
        EXPECT_EQ(out[7], 0u); // a scale of 0 gives null
        EXPECT_EQ(out[8], 0u); // so does a size too large for any picture
    }
    uint32_t out[9] = {};
    slots((dir + "/missing.png").c_str(), out);
    EXPECT_EQ(out[0], 0u);
    EXPECT_EQ(out[1], 0u);
    std::filesystem::remove_all(dir);
    qxClosePluginLibrary(h);
}

} // namespace
