// The platform requesters (message, file, path, string, list, font and
// colour): through the GTK requester thread when GTK is usable, else asked
// on the console (standard input and output).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

typedef struct lua_State lua_State;

enum : uint32_t {
    QX_REQ_IDLE = 0,
    QX_REQ_MESSAGE = 1,
    QX_REQ_FILE = 2,
    QX_REQ_PATH = 3,
    QX_REQ_STRING = 4,
    QX_REQ_LIST = 5,
    QX_REQ_FONT = 6,
    QX_REQ_COLOR = 7,
};

// Requester modes.
enum { QX_REQMODE_NORMAL = 0, QX_REQMODE_MULTISELECT = 1, QX_REQMODE_SAVE = 2 };
// String requester input kind that accepts digits only.
enum { QX_REQINPUT_NUMERICAL = 3 };

// The request handed to the GTK requester thread. The script thread fills
// it, stores the kind and waits until the GTK thread changes the kind.
struct qxRequestBlock {
    std::atomic<uint32_t> kind;
    const char *title;
    const char *body;     // body, prompt
    const char *buttons;  // custom button text (layout 4)
    int layout;           // message box button layout
    int icon;
    const char *pattern;  // file filter, NULL for none
    const char *allName;  // the file filter of everything, from the catalog
    uint32_t flags;       // 1 multiple selection, 2 save mode
    const char *defaultPath;
    const char *defaultFile;
    const char *defaultText; // string default, font name
    const char *entries;     // list entries, NUL-separated, empty one last
    int defaultNumber;       // list index, font size, colour
    int maxLength;
    int password;
    int inputKind;
    // Answer.
    int status;    // negative: the dialog failed; 0 cancelled; 1 answered
    char *result;  // allocated (qxFree): path(s), text or font name
    int number;    // button, list index, font size
    int weight, slant; // font requester, the program's scale
    int32_t color;
    // The window the dialog is made transient for (Display *, Window).
    void *parentDisplay;
    unsigned long parentWindow;
};

// File requester result: the directory (text up to the file part), the
// file name or NUL-separated list ending with an empty name, the number of
// files and whether the user completed the request.
struct qxFileRequestResult {
    char *path;
    char *file;
    uint32_t count;
    uint32_t completed;
};

extern "C" {
extern qxRequestBlock qxRequest;

// Layouts of the standard button texts: "OK" 3, "OK|Cancel" 0, "Yes|No" 1,
// "Yes|No|Cancel" 2; -1 for any other text.
int qxStandardButtons(const char *buttons);
// 1 when the GTK requester thread runs, else 0 (the console answers).
int qxStartGtk(void);
// 1 once the GTK requester thread has been started, else 0.
int qxGtkThreadStarted(void);
// Hands the filled block to the GTK thread and serves events until it answers.
void qxPostRequest(lua_State *L, uint32_t kind);

// The requesters. L may be NULL (start-up, error report).
// Message box: the chosen button, 1 to n - 1 in order, 0 for the last.
int qxPlatformMessageBox(lua_State *L, const char *title, const char *body, const char *buttons,
                         int icon, int *choice);
// 0 or 1000; result->completed is 0 when cancelled. Free with qxFreeFileResult.
int qxPlatformFileRequest(lua_State *L, const char *title, const char *pattern, int mode,
                          const char *defaultPath, const char *defaultFile,
                          qxFileRequestResult *result);
void qxFreeFileResult(qxFileRequestResult *result);
// 0 or 1000; *path is an allocated copy, NULL when cancelled.
int qxPlatformPathRequest(lua_State *L, const char *title, int mode, const char *defaultPath,
                          char **path);
// 0 or 1000; *text is an allocated copy, NULL when cancelled.
int qxPlatformStringRequest(lua_State *L, const char *title, const char *body,
                            const char *defaultText, int inputKind, int maxLength, int password,
                            char **text);
// entries: NUL-separated, ended by an empty entry. *index -1 when cancelled.
int qxPlatformListRequest(lua_State *L, const char *title, const char *body, const char *entries,
                          int preselected, int *index);
// What the font requester answers: the family, the size, the weight (80
// normal) and slant (0 roman), underline and strike-through, whether it is
// bold and italic, and a further number only a requester adapter gives (the
// script sees it as the colour).
struct qxFontRequestResult {
    char name[256];
    int32_t size, weight, slant, underline, strikeout;
    uint32_t bold, italic;
    int32_t number;
};
// name empty when cancelled.
int qxPlatformFontRequest(lua_State *L, const char *title, const char *defaultName, int defaultSize,
                          qxFontRequestResult *result);
// *color -1 when cancelled.
int qxPlatformColorRequest(lua_State *L, const char *title, int32_t defaultColor, int32_t *color);

// Console forms.
// Asks until an acceptable path is typed into buffer (1025 bytes): 1, or 0
// when cancelled by an empty line or the end of input.
int qxConsoleAskPath(const char *title, int mode, char *buffer, int wantDirectory);
int qxConsoleMessageBox(const char *body, const char *buttons);
char *qxConsoleAskString(const char *body, int inputKind, int maxLength);
int qxConsoleAskList(const char *body, const char *entries);
void qxConsoleAskFont(char *name, int *size);
int32_t qxConsoleAskColor(void);

// Used by the error report and by start-up.
// Shows a message box; returns the chosen button (0 for the last or only one).
int qxMessageRequest(const char *title, const char *body, const char *buttons, int kind);
// Asks for a file; 0 with the chosen path, 1003 when cancelled.
int qxFileRequestPath(const char *title, const char *pattern, char *out, size_t size);
}
