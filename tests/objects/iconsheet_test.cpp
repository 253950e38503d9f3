// The icon sheet reader and writer on pixel arrays: the boundaries of the
// header rows, equal widths, repeated sizes and selected images.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "objects/qx_icon.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

const uint32_t kMarker[3] = {0x005A4550u, 0x00485952u, 0x00414E45u};

// A sheet of the given width: the marker row, then each entry's header and
// rows filled with its index.
std::vector<uint32_t> sheet(uint32_t width, const std::vector<std::array<uint32_t, 3>> &entries, uint32_t extraRows = 0)
{
    std::vector<uint32_t> px(width, 0);
    for (int i = 0; i < 3; i++)
        px[i] = kMarker[i];
    uint32_t index = 1;
    for (const auto &e : entries) {
        std::vector<uint32_t> header(width, 0);
        header[0] = e[0], header[1] = e[1], header[2] = e[2];
        px.insert(px.end(), header.begin(), header.end());
        for (uint32_t y = 0; y < e[1]; y++)
            px.insert(px.end(), width, 0xFF000000u | index);
        index++;
    }
    px.insert(px.end(), size_t(extraRows) * width, 0);
    return px;
}

int parse(const std::vector<uint32_t> &px, uint32_t width, qxIconEntry **out)
{
    return qxParseIconSheet(px.data(), width, uint32_t(px.size() / width), width, out);
}

TEST(IconSheet, HeaderBoundsAndOrder)
{
    qxIconEntry *list = nullptr;
    // Height equal to the rows left including the header row is one too many.
    auto px = sheet(8, {{4, 4, 0}});
    px[8 + 1] = 5;
    EXPECT_EQ(parse(px, 8, &list), ERR_LOADICON);
    // A falling width, a repeated size and a selected image past the edge.
    EXPECT_EQ(parse(sheet(8, {{4, 4, 0}, {3, 3, 0}}), 8, &list), ERR_LOADICON);
    EXPECT_EQ(parse(sheet(8, {{4, 4, 0}, {4, 4, 0}}), 8, &list), ERR_LOADICON);
    EXPECT_EQ(parse(sheet(8, {{5, 2, QX_ICONSHEET_SELECTED}}), 8, &list), ERR_LOADICON);
    EXPECT_EQ(list, nullptr);
    // A sheet without the marker, and one narrower than the marker.
    px = sheet(8, {});
    px[1] ^= 1;
    EXPECT_EQ(parse(px, 8, &list), ERR_LOADICON);
    EXPECT_EQ(qxParseIconSheet(kMarker, 2, 1, 2, &list), ERR_LOADICON);
}

TEST(IconSheet, EqualWidthsAndRoundTrip)
{
    qxIconEntry *list = nullptr;
    ASSERT_EQ(parse(sheet(8, {{4, 6, QX_ICONSHEET_STANDARD}, {4, 2, QX_ICONSHEET_SELECTED}, {8, 1, 2}}), 8, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->height, 6u);
    EXPECT_EQ(list->standard, 1u);
    ASSERT_NE(list->next->selected, nullptr);
    EXPECT_EQ(list->next->normal[0], 0xFF000002u);
    EXPECT_EQ(list->next->next->transparency, 1u);
    uint32_t *out = nullptr, w = 0, h = 0;
    ASSERT_EQ(qxBuildIconSheet(list, &out, &w, &h), 0);
    EXPECT_EQ(w, 8u);
    EXPECT_EQ(h, 1u + 7 + 3 + 2);
    qxIconEntry *again = nullptr;
    EXPECT_EQ(qxParseIconSheet(out, w, h, w, &again), 0);
    EXPECT_EQ(again->next->next->width, 8u);
    qxFreeIconEntries(again);
    qxFreeIconEntries(list);
    qxFree(out);
    // No entries: a 3 x 1 sheet that reads back empty.
    ASSERT_EQ(qxBuildIconSheet(nullptr, &out, &w, &h), 0);
    EXPECT_EQ(w * 10 + h, 31u);
    EXPECT_EQ(qxParseIconSheet(out, w, h, w, &again), 0);
    EXPECT_EQ(again, nullptr);
    qxFree(out);
}

} // namespace
