// The "system" command library: its command table, the runtime's main
// constants table, opener and close function.
#include "libs/qx_systemlib.h"

#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_corelibs.h"
#include "libs/qx_plugincmds.h"
#include "libs/qx_prefs.h"
#include "libs/qx_tablecmds.h"
#include "platform/qx_locale.h"

namespace {

constexpr qxCommandDef systemCommands[] = {
    // Information
    {"GetVersion", qxCmdGetVersion},
    {"GetApplicationInfo", qxCmdGetApplicationInfo},
    {"GetProgramInfo", qxCmdGetProgramInfo},
    {"GetFileArgument", qxCmdGetFileArgument},
    {"GetCommandLine", qxCmdGetCommandLine},
    {"GetSystemInfo", qxCmdGetSystemInfo},
    {"GetMemoryInfo", qxCmdGetMemoryInfo},
    {"GetSystemLanguage", qxCmdGetSystemLanguage},
    {"GetSystemCountry", qxCmdGetSystemCountry},
    {"GetLanguageInfo", qxCmdGetLanguageInfo},
    {"GetCountryInfo", qxCmdGetCountryInfo},
    {"IsUnicode", qxCmdIsUnicode},
    {"GetConstant", qxCmdGetConstant},
    // Console and debugging
    {"ConsolePrint", qxCmdConsolePrint},
    {"ConsolePrintNR", qxCmdConsolePrintNR},
    {"DebugPrint", qxCmdDebugPrint},
    {"DebugStr", qxCmdDebugPrint},
    {"DebugVal", qxCmdDebugPrint},
    {"DebugPrintNR", qxCmdDebugPrintNR},
    {"ConsolePrompt", qxCmdConsolePrompt},
    {"DebugPrompt", qxCmdDebugPrompt},
    {"DebugOutput", qxCmdDebugOutput},
    {"Assert", qxCmdAssert},
    // Errors and control
    {"Error", qxCmdError},
    {"GetLastError", qxCmdGetLastError},
    {"GetErrorName", qxCmdGetErrorName},
    {"ExitOnError", qxCmdExitOnError},
    {"RaiseOnError", qxCmdRaiseOnError},
    {"End", qxCmdEnd},
    {"EnableLineHook", qxCmdEnableLineHook},
    {"DisableLineHook", qxCmdDisableLineHook},
    {"Wait", qxCmdWait},
    {"Beep", qxCmdBeep},
    {"OpenURL", qxCmdOpenURL},
    {"ShowNotification", qxCmdShowNotification},
    {"LegacyControl", qxCmdLegacyControl},
    {"CollectGarbage", qxCmdCollectGarbage},
    {"GCInfo", qxCmdGCInfo},
    // Catalogs
    {"OpenCatalog", qxCmdOpenCatalog},
    {"CloseCatalog", qxCmdCloseCatalog},
    {"GetCatalogString", qxCmdGetCatalogString},
    // Features of other platforms
    {"ImageRequest", qxCmdNotSupported},
    {"PermissionRequest", qxCmdNotSupported},
    {"ReadRegistryKey", qxCmdNotSupported},
    {"WriteRegistryKey", qxCmdNotSupported},
    {"CreateShortcut", qxCmdNotSupported},
    {"GetIconProperties", qxCmdNotSupported},
    {"SetIconProperties", qxCmdNotSupported},
    {"SetWBIcon", qxCmdNotSupported},
    {"OpenAmigaGuide", qxCmdNotSupported},
    {"CloseAmigaGuide", qxCmdNotSupported},
    {"SetTrayIcon", qxCmdNotSupported},
    {"GetShortcutPath", qxCmdNotSupported},
    {"ShowToast", qxCmdNotSupported},
    {"ShowRinghioMessage", qxCmdNotSupported},
    {"GetApplicationList", qxCmdNotSupported},
    {"SendApplicationMessage", qxCmdNotSupported},
    {"ChangeApplicationIcon", qxCmdNotSupported},
    {"PerformSelector", qxCmdNotSupported},
    {"Vibrate", qxCmdNotSupported},
    {"CallJavaMethod", qxCmdNotSupported},
    // Dates and time
    {"GetDate", qxCmdGetDate},
    {"GetTime", qxCmdGetTime},
    {"GetWeekday", qxCmdGetWeekday},
    {"GetDateNum", qxCmdGetDateNum},
    {"MakeDate", qxCmdMakeDate},
    {"ParseDate", qxCmdParseDate},
    {"ValidateDate", qxCmdValidateDate},
    {"CompareDates", qxCmdCompareDates},
    {"DateToTimestamp", qxCmdDateToTimestamp},
    {"DateToUTC", qxCmdDateToUTC},
    {"UTCToDate", qxCmdUTCToDate},
    {"GetTimestamp", qxCmdGetTimestamp},
    {"TimestampToDate", qxCmdTimestampToDate},
    {"GetTimeZone", qxCmdGetTimeZone},
    // Timers
    {"StartTimer", qxCmdStartTimer},
    {"StopTimer", qxCmdStopTimer},
    {"PauseTimer", qxCmdPauseTimer},
    {"ResumeTimer", qxCmdResumeTimer},
    {"ResetTimer", qxCmdResetTimer},
    {"GetTimer", qxCmdGetTimer},
    {"WaitTimer", qxCmdWaitTimer},
    // Preferences
    {"LoadPrefs", qxCmdLoadPrefs},
    {"SavePrefs", qxCmdSavePrefs},
    {"DeletePrefs", qxCmdDeletePrefs},
    // Requesters and clipboard
    {"SystemRequest", qxCmdSystemRequest},
    {"StringRequest", qxCmdStringRequest},
    {"ListRequest", qxCmdListRequest},
    {"PathRequest", qxCmdPathRequest},
    {"FileRequest", qxCmdFileRequest},
    {"FontRequest", qxCmdFontRequest},
    {"ColorRequest", qxCmdColorRequest},
    {"GetClipboard", qxCmdGetClipboard},
    {"SetClipboard", qxCmdSetClipboard},
    {"PeekClipboard", qxCmdPeekClipboard},
    {"ClearClipboard", qxCmdClearClipboard},
    // Plug-ins
    {"HavePlugin", qxCmdHavePlugin},
    {"EnablePlugin", qxCmdEnablePlugin},
    {"DisablePlugin", qxCmdDisablePlugin},
    {"LoadPlugin", qxCmdLoadPlugin},
    {"GetPlugins", qxCmdGetPlugins},
    // Object data, object queries and tables
    QX_TABLE_COMMAND_ROWS,
    {nullptr, nullptr},
};

// The main constants table of the runtime; the ERR_ codes and the
// LANGUAGE_ and COUNTRY_ numbers are registered beside it.
constexpr qxConstantDef systemConstants[] = {
    {"NIL", nullptr, 0},
    {"INTEGER", nullptr, 1},
    {"NUMBER", nullptr, 2},
    {"STRING", nullptr, 3},
    {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5},
    {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6},
    {"BYTE", nullptr, 7},
    {"USERDATA", nullptr, 8},
    {"LIGHTUSERDATA", nullptr, 9},
    {"THREAD", nullptr, 10},
    {"FLOAT", nullptr, 11},
    {"DOUBLE", nullptr, 12},
    {"BOOLEAN", nullptr, 13},
    {"DATELOCALNATIVE", nullptr, 0},
    {"DATELOCAL", nullptr, 1},
    {"DATEUTC", nullptr, 2},
    {"DATEYEAR", nullptr, 0},
    {"DATEMONTH", nullptr, 1},
    {"DATEDAY", nullptr, 2},
    {"DATETIME", nullptr, 3},
    {"REQ_NORMAL", nullptr, 0},
    {"REQ_MULTISELECT", nullptr, 1},
    {"REQ_SAVEMODE", nullptr, 2},
    {"REQ_HIDEICONS", nullptr, 65536},
    {"REQ_GALLERY", nullptr, 4},
    {"REQ_CAMERA", nullptr, 5},
    {"REQICON_NONE", nullptr, 0},
    {"REQICON_INFORMATION", nullptr, 1},
    {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3},
    {"REQICON_QUESTION", nullptr, 4},
    {"CLIPBOARD_EMPTY", nullptr, 0},
    {"CLIPBOARD_TEXT", nullptr, 1},
    {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3},
    {"CLIPBOARD_UNKNOWN", nullptr, 4},
    {nullptr, nullptr, 0},
};

// Registers {name, number} rows built at start, with the unknown row last.
void registerNumbered(lua_State *L, const std::vector<std::pair<std::string, double>> &named, const char *unknown,
                      double unknownNumber) {
    std::vector<qxConstantDef> rows;
    rows.reserve(named.size() + 2);
    for (const auto &[name, number] : named) rows.push_back({name.c_str(), nullptr, number});
    rows.push_back({unknown, nullptr, unknownNumber});
    rows.push_back({nullptr, nullptr, 0});
    luaL_registerconstants(L, rows.data(), 0);
}

// Base letters of U+00C0..U+00FF; '_' where there is none.
constexpr char kLatin1Base[65] = "AAAAAAACEEEEIIIIDNOOOOO_OUUUUYTsaaaaaaaceeeeiiiidnooooo_ouuuuyty";

// LANGUAGE_<English name> for every language of the platform's table.
void registerLanguages(lua_State *L) {
    std::vector<std::pair<std::string, double>> named;
    named.reserve(qxLanguageCount);
    for (unsigned i = 0; i < qxLanguageCount; i++) {
        const qxLanguageRow &row = qxLanguageTable[i];
        if (!row.englishName) continue;
        std::string name = "LANGUAGE_";
        for (const unsigned char *p = reinterpret_cast<const unsigned char *>(row.englishName); *p; p++) {
            unsigned char c = *p;
            // A Latin-1 letter (two UTF-8 bytes) keeps its base letter, so
            // "bokmål" can be spelled LANGUAGE_BOKMAL.
            if (c == 0xC3 && p[1] >= 0x80 && p[1] <= 0xBF) c = kLatin1Base[*++p - 0x80];
            name += std::isalnum(c) ? static_cast<char>(std::toupper(c)) : '_';
        }
        named.emplace_back(std::move(name), static_cast<double>(row.number));
    }
    registerNumbered(L, named, "LANGUAGE_UNKNOWN", QX_LANGUAGE_UNKNOWN);
}

// COUNTRY_<two-letter code> for every country of the platform's table, as
// GetSystemCountry numbers them.
void registerCountries(lua_State *L) {
    std::vector<std::pair<std::string, double>> named;
    named.reserve(qxCountryCount);
    for (unsigned i = 0; i < qxCountryCount; i++)
        named.emplace_back(std::string("COUNTRY_") + qxCountryTable[i].code2, static_cast<double>(qxCountryTable[i].number));
    registerNumbered(L, named, "COUNTRY_UNKNOWN", QX_COUNTRY_UNKNOWN);
}

} // namespace

extern "C" int qxOpenSystemLib(lua_State *L)
{
    qxSingleMusic = 1;
    qxGetLastErrorCommand = qxCmdGetLastError;
    int r = qxOpenCommandLibraryOf<systemCommands, systemConstants>(L, "system");
    if (r || !L)
        return r;
    if ((r = qxSysRegisterTimers()))
        return r;
    luaL_registerconstants(L, qxErrorConstants, 0, &qxErrorConstantNames);
    try {
        registerLanguages(L);
        registerCountries(L);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    return 0;
}

extern "C" void qxFreeSystemLib(lua_State *L)
{
    qxSysFreeCatalog();
    qxSysFreeTimers(L);
    if (L && qxErrorHandlerRef >= 0)
        luaL_unref(L, LUA_REGISTRYINDEX, qxErrorHandlerRef);
    qxErrorHandlerRef = -1;
}
