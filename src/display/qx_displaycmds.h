// Display creation, windows, sizing and refresh shared by the display
// library and start-up.
#pragma once
#include <cstdint>

#include "core/commands/qx_commands.h"
#include "display/qx_display.h"

// The preferences file of the core libraries, filled by the top: load
// (mode 0 pushes the table; 0 when read) and save (the table at idx).
struct qxDisplayPrefsHooks {
    int (*load)(lua_State *L, int mode);
    int (*save)(lua_State *L, int idx);
};

struct qxIconNode;

// What leaving full screen gives back of what entering it saved (the
// record's restorePosition bits): the script's own place wins over the
// saved one, the saved flags are always the windowed ones.
constexpr uint32_t QX_RESTORE_PLACE = 1, QX_RESTORE_FLAGS = 2;

extern "C" {
extern qxDisplayPrefsHooks qxDisplayPrefs;
// The application's window icons, which replace the built-in ones of the
// same size when the first window opens; filled by the top. NULL: none.
extern const qxIconNode *(*qxWindowIconSet)(void);
extern const qxCommandDef *const qxDisplayCommandTable;
extern const qxNames qxDisplayCommandNames;
// The display list and the pump's up-calls for refresh and rescale.
int qxInitDisplays(void);
// A new display from the tag table at index tags (0: none); 0 or its error.
int qxCreateDisplayRecord(lua_State *L, uint32_t id, int automatic, int tags, qxDisplay **out);
int qxReadDisplayTags(lua_State *L, int t, qxDisplay *display, int create);
int qxLookupDisplayMode(const char *name, uint32_t *mode);
// Scaled size and margins of an autoscaled display in a W x H window.
void qxLetterbox(qxDisplay *display, int W, int H, int bgpicWidth, int bgpicHeight);
void qxResetRegions(qxDisplay *display);
int qxPlaceDisplay(qxDisplay *display);
// Makes the wake-up pipe and window icon before the first window.
int qxEnsureWindowing(void);
// Opens a closed display's window in its mode (asking the user for modes 3
// and 4); 1003 when the user cancels.
int qxOpenDisplayWindow(lua_State *L, qxDisplay *display, int options);
// Switches an open display between windowed (1) and full screen (2);
// monitor: the 0-based monitor to move to, or -1; backfill: a backfill
// description to take over once the switch is not refused, or NULL.
int qxChangeDisplayMode(lua_State *L, qxDisplay *display, int mode, int width, int height,
                        int monitor, void *backfill);
int qxRealiseDisplay(qxDisplay *display, int activate);
// The close sequence: the window goes, the placement is remembered, the
// backfill is freed and the desktop's screen mode comes back. L may be
// NULL when no script runs (nothing is remembered or freed through it).
int qxCloseDisplayWindow(lua_State *L, qxDisplay *display);
// Closes and realises the window again (a shaped window takes a new shape
// only with a new window); the videos drawn into it wait meanwhile.
int qxReopenDisplayWindow(qxDisplay *display);
int qxDisplayRescale(qxDisplay *display, int width, int height, int x, int y);
// "fitscale": a scaled display fills its monitor, frame included.
int qxApplyFitScale(qxDisplay *display);
// The whole display into its window: its BGPic with layers and sprites
// composed again first, unless flags has 2 (the window system or a
// satellite asks to see again what is there).
int qxRefreshWholeDisplay(qxDisplay *display, int flags);
// 1085 naming the window size that no window can take.
int qxDisplaySizeRefused(int width, int height);
// The display's scale factors for its BGPic and, autoscaling a shaped one,
// the window's shape planes.
int qxDisplayScaleAndShape(lua_State *L, qxDisplay *display);
// SetDisplayAttributes on a display with the tag table at index t
// (DisplayBGPic hands it {bgpic, x, y}); keepDeleted (a transition's
// switch) leaves a BGPic the script freed while it was shown for the caller
// to free, and the window on the old picture.
int qxApplyDisplayAttrs(lua_State *L, int t, qxDisplay *display, int keepDeleted);
}
