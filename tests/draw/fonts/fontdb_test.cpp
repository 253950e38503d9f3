// The font database against fontconfig's fc-query, with a collection built
// from two Debian fonts and a generated bitmap font.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "draw/fonts/qx_font.h"

namespace {

namespace fs = std::filesystem;
const std::string kVera = "/usr/share/fonts/truetype/ttf-bitstream-vera/";
const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/";

std::vector<uint8_t> load(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}
uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
void put32(uint8_t *p, uint32_t v) { p[0] = v >> 24, p[1] = v >> 16, p[2] = v >> 8, p[3] = uint8_t(v); }

// A "ttcf" collection of whole fonts, each table offset moved by the font's
// place in the file.
std::vector<uint8_t> collection(const std::vector<std::string> &files) {
    std::vector<uint8_t> out(12 + 4 * files.size());
    memcpy(out.data(), "ttcf\0\1\0\0", 8);
    put32(out.data() + 8, uint32_t(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> font = load(files[i]);
        while (out.size() % 4) out.push_back(0);
        uint32_t base = uint32_t(out.size());
        put32(out.data() + 12 + 4 * i, base);
        uint32_t tables = font[4] << 8 | font[5];
        for (uint32_t t = 0; t < tables; ++t) put32(&font[12 + t * 16 + 8], be32(&font[12 + t * 16 + 8]) + base);
        out.insert(out.end(), font.begin(), font.end());
    }
    return out;
}

std::string fcQuery(const std::string &file) {
    std::string cmd = "fc-query -f '%{family[0]} %{style[0]}' " + file;
    FILE *p = popen(cmd.c_str(), "r");
    char buf[512] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    return std::string(buf, n);
}

class FontDb : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qxfontdb_" + std::to_string(getpid()));
        fs::create_directories(dir);
        for (const char *f : {"Vera.ttf", "VeraBd.ttf", "VeraIt.ttf"}) fs::copy_file(kVera + f, dir + "/" + f, fs::copy_options::overwrite_existing);
        fs::copy_file(kDejaVu + "DejaVuSans-BoldOblique.ttf", dir + "/dvbo.ttf", fs::copy_options::overwrite_existing);
        std::vector<uint8_t> ttc = collection({kDejaVu + "DejaVuSerif.ttf", kDejaVu + "DejaVuSansMono-Bold.ttf"});
        std::ofstream(dir + "/pair.ttc", std::ios::binary).write(reinterpret_cast<char *>(ttc.data()), ttc.size());
        std::ofstream(dir + "/x.ttf") << "garbage";
        std::string gen = "/usr/bin/python3 " QX_SOURCE_DIR "/tools/fonts/make_bitmap_font.py " + dir + " bits 9";
        ASSERT_EQ(system(gen.c_str()), 0);
        qxClearFontPaths();
        ASSERT_EQ(qxAddFontPath(dir.c_str()), 0);
        ASSERT_EQ(qxAddFontPath(dir.c_str()), 0);
    }
    void TearDown() override {
        qxClearFontPaths();
        fs::remove_all(dir);
    }
    const qxFontDbEntry *entry(const char *name) {
        for (const qxFontDbEntry *e = qxFontDbFirst(); e; e = e->next)
            if (!strcasecmp(e->name, name)) return e;
        return nullptr;
    }
};

TEST_F(FontDb, NamesMatchFontconfig) {
    qxScanFontDirectories(1);
    for (const char *f : {"Vera.ttf", "VeraBd.ttf", "VeraIt.ttf", "dvbo.ttf"}) {
        std::string expect = fcQuery(dir + "/" + f);
        const qxFontDbEntry *e = entry(expect.c_str());
        ASSERT_TRUE(e) << expect;
        EXPECT_EQ(std::string(e->path), dir + "/" + f);
    }
    for (const char *f : {"DejaVuSerif.ttf", "DejaVuSansMono-Bold.ttf"})
        EXPECT_TRUE(entry(fcQuery(kDejaVu + f).c_str())) << f;
    const qxFontDbEntry *bo = entry("DejaVu Sans Bold Oblique");
    ASSERT_TRUE(bo);
    EXPECT_EQ(bo->weight, 200u);
    EXPECT_EQ(bo->slant, 110u);
    const qxFontDbEntry *bits = entry("bits");
    ASSERT_TRUE(bits);
    EXPECT_EQ(bits->bitmap, 1u);
    ASSERT_EQ(bits->sizeCount, 1u);
    EXPECT_EQ(bits->sizes[0], 9);
    // Listing mode adds no family-only entries.
    EXPECT_FALSE(entry("Bitstream Vera Sans"));
}

TEST_F(FontDb, LookupsByNameFamilyAndStyle) {
    uint32_t off, size;
    int temp;
    char buf[1024];
    ASSERT_TRUE(qxFontDbFind("Bitstream Vera Sans", -1, 0, 0, &off, &size, &temp, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), dir + "/Vera.ttf");
    ASSERT_TRUE(qxFontDbFind("bitstream vera sans roman", -1, 0, 0, &off, &size, &temp, buf, sizeof buf));
    EXPECT_FALSE(qxFontDbFind("Bitstream Vera Sans Bold Regular", -1, 0, 0, &off, &size, &temp, buf, sizeof buf));
    ASSERT_TRUE(qxFontDbFind("Bitstream Vera Sans", 200, 0, 0, &off, &size, &temp, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), dir + "/VeraBd.ttf");
    ASSERT_TRUE(qxFontDbFind("Bitstream Vera Sans", 80, 110, 0, &off, &size, &temp, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), dir + "/VeraIt.ttf");
    EXPECT_EQ(temp, 0);
}

TEST_F(FontDb, CollectionFacesOpenThroughAnExtractedFile) {
    qxFontHandle h;
    memset(&h, 0, sizeof h);
    ASSERT_EQ(qxFtOpenFont("DejaVu Sans Mono Bold", 14, 1, &h), 1);
    EXPECT_STREQ(h.name, "DejaVu Sans Mono Bold");
    std::string temp = static_cast<qxTrueTypeFont *>(h.backend)->path;
    EXPECT_TRUE(fs::exists(temp));
    qxTextExtent e;
    qxFtMeasureText(&h, "MM", 2, 0, 0, &e);
    EXPECT_GT(e.width, 10);
    qxFtFreeFace(&h);
    EXPECT_FALSE(fs::exists(temp));
    // A family name by itself finds the regular face of the collection.
    memset(&h, 0, sizeof h);
    ASSERT_EQ(qxFtOpenFont("DejaVu Serif", 14, 1, &h), 1);
    EXPECT_STREQ(h.name, "DejaVu Serif");
    qxFtFreeFace(&h);
}

TEST(FontDbWords, StyleWords) {
    uint32_t w, s;
    qxStyleWeightSlant("Italic Bold", &w, &s);
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(s, 100u);
    qxStyleWeightSlant("ultra-light oblique", &w, &s);
    EXPECT_EQ(w, 40u);
    EXPECT_EQ(s, 110u);
    qxStyleWeightSlant("", &w, &s);
    EXPECT_EQ(w, 80u);
    EXPECT_EQ(s, 0u);
}

} // namespace
