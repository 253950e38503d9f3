// Run-time import of the optional libraries from stub shared objects.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/qx_libimports.h"

namespace {

// The position of a name in the import list, as the stubs return it.
unsigned long stubIndex(const char *name)
{
    static const char *const names[] = {
#define QX_IMPORT(group, n, optional) #n,
#include "platform/qx_libimportnames.h"
#undef QX_IMPORT
    };
    for (unsigned long i = 0; i < sizeof names / sizeof names[0]; i++)
        if (!std::strcmp(names[i], name))
            return i + 1;
    return 0;
}

// Imports from one stub set, capturing the console output.
std::string importFrom(const char *set)
{
    qxCloseLibraries();
    qxSetImportDirectory((std::string(QX_IMPORT_STUB_DIR) + "/" + set).c_str());
    testing::internal::CaptureStdout();
    qxImportLibraries();
    for (int lib = 0; lib < QX_LIB_COUNT; lib++)
        qxLibraryComplete(lib);
    return testing::internal::GetCapturedStdout();
}

class Import : public ::testing::Test {
protected:
    void TearDown() override
    {
        qxCloseLibraries();
        qxSetImportDirectory(nullptr);
    }
};

} // namespace

TEST_F(Import, CompleteAndIncompleteLibraries)
{
    std::string out = importFrom("full");
    EXPECT_EQ(out, "WARNING: Library function XcursorImageLoadCursor not found in xcursor_base!\n"
                   "WARNING: Could not import all symbols -- Zephyrane might crash!\n");
    const qxLibImportTable &t = qxLibImports;
    // XFixes is usable; Xcursor loaded but incomplete is not.
    ASSERT_NE(t.handle[QX_LIB_XFIXES], nullptr);
    EXPECT_EQ(t.complete[QX_LIB_XFIXES], 1u);
    ASSERT_NE(t.XFixesQueryVersion, nullptr);
    EXPECT_EQ(reinterpret_cast<unsigned long (*)(void)>(t.XFixesQueryVersion)(), stubIndex("XFixesQueryVersion"));
    ASSERT_NE(t.handle[QX_LIB_XCURSOR], nullptr);
    EXPECT_EQ(t.complete[QX_LIB_XCURSOR], 0u);
    EXPECT_NE(t.XcursorImageCreate, nullptr);
    EXPECT_EQ(t.XcursorImageLoadCursor, nullptr);
    // Xrandr lacks a name silently.
    EXPECT_NE(t.handle[QX_LIB_XRANDR], nullptr);
    EXPECT_EQ(t.xrandrAvailable, 0u);
    EXPECT_EQ(t.XRRSetCrtcConfig, nullptr);
    // Optional names are missing without a word.
    EXPECT_EQ(t.complete[QX_LIB_ALSA], 1u);
    EXPECT_EQ(t.snd_pcm_avail, nullptr);
    EXPECT_EQ(t.gtkLoaded, 1u);
    EXPECT_EQ(t.gtk_dialog_get_content_area, nullptr);
    // Libraries that are not there stay unloaded.
    EXPECT_EQ(t.handle[QX_LIB_NOTIFY], nullptr);
    EXPECT_EQ(t.notify_init, nullptr);
    EXPECT_EQ(t.handle[QX_LIB_XVIDMODE], nullptr);
    EXPECT_EQ(t.complete[QX_LIB_XVIDMODE], 0u);
    // The type lookups and the instance cast go through the pointers.
    EXPECT_EQ(qxGtkWindowGetType(), stubIndex("gtk_window_get_type"));
    EXPECT_EQ(qxGtkFontSelectionDialogGetType(), stubIndex("gtk_font_selection_dialog_get_type"));
    int widget;
    EXPECT_EQ(qxGTypeCheckInstanceCast(&widget, qxGtkWindowGetType()), &widget);
}

TEST_F(Import, GtkNeedsAllThreeLibraries)
{
    std::string out = importFrom("partial");
    EXPECT_EQ(out, "WARNING: Library function XScreenSaverSuspend not found in xscrnsaver_base!\n"
                   "WARNING: Could not import all symbols -- Zephyrane might crash!\n");
    const qxLibImportTable &t = qxLibImports;
    EXPECT_EQ(t.gtkLoaded, 0u);
    EXPECT_EQ(t.handle[QX_LIB_GTK], nullptr);
    EXPECT_EQ(t.handle[QX_LIB_GLIB], nullptr);
    EXPECT_EQ(t.gtk_init, nullptr);
    EXPECT_EQ(qxGtkWindowGetType(), 0ul);
    EXPECT_EQ(qxGTypeCheckInstanceCast(&out, 1), nullptr);
    EXPECT_NE(t.handle[QX_LIB_XSCRNSAVER], nullptr);
    EXPECT_EQ(t.complete[QX_LIB_XSCRNSAVER], 0u);
    EXPECT_EQ(t.complete[QX_LIB_XVIDMODE], 1u);
    EXPECT_EQ(t.handle[QX_LIB_XFIXES], nullptr);
}

TEST_F(Import, MissingRequiredGtkNameDisablesGtk)
{
    std::string out = importFrom("nogtkinit");
    EXPECT_EQ(out, "WARNING: Library function gtk_init not found in gtk_base!\n"
                   "WARNING: Could not import all symbols -- Zephyrane might crash!\n");
    EXPECT_EQ(qxLibImports.gtkLoaded, 0u);
    EXPECT_NE(qxLibImports.gtk_dialog_new, nullptr);
}

TEST_F(Import, OnlyXFixesAndXrandrLoadAtStartUp)
{
    qxCloseLibraries();
    qxSetImportDirectory((std::string(QX_IMPORT_STUB_DIR) + "/full").c_str());
    testing::internal::CaptureStdout();
    qxImportLibraries();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(qxLibImports.handle[QX_LIB_XFIXES], nullptr);
    EXPECT_NE(qxLibImports.handle[QX_LIB_XRANDR], nullptr);
    for (int lib : {QX_LIB_ALSA, QX_LIB_XCURSOR, QX_LIB_GTK, QX_LIB_PANGO})
        EXPECT_EQ(qxLibImports.handle[lib], nullptr) << lib;
    // A library's warnings come when it is first used.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(qxLibraryComplete(QX_LIB_XCURSOR));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: Library function XcursorImageLoadCursor not found in xcursor_base!\n"
              "WARNING: Could not import all symbols -- Zephyrane might crash!\n");
    EXPECT_EQ(qxLibImports.handle[QX_LIB_ALSA], nullptr);
    EXPECT_TRUE(qxLibraryComplete(QX_LIB_ALSA));
    EXPECT_TRUE(qxGtkAvailable());
    EXPECT_NE(qxLibImports.handle[QX_LIB_GTK], nullptr);
    EXPECT_NE(qxLibImports.gtk_init, nullptr);
}

TEST_F(Import, NothingFoundIsQuiet)
{
    EXPECT_EQ(importFrom("none-such-directory"), "");
    for (void *h : qxLibImports.handle)
        EXPECT_EQ(h, nullptr);
    EXPECT_EQ(qxLibImports.gtkLoaded, 0u);
    EXPECT_EQ(qxLibImports.xrandrAvailable, 0u);
}
