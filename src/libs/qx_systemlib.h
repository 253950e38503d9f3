// The "system" library: its controls that other libraries read, and the
// command handlers of its files.
#pragma once
#include <cstdint>

#include "core/vm/lua.h"

extern "C" {
// LegacyControl "singlemusic": one music at a time (sound library); the
// shape setting lives with the run state.
extern int qxSingleMusic;
}

// Shared by the handlers: script truth (nil, false, 0 and "" are false).
int qxSysScriptTruth(lua_State *L, int idx);
// Writes text unchanged to standard output (flushed when asked or when
// FORCEFLUSH is on).
void qxSysWrite(const char *text, size_t length, int flush);

// Information (qx_sysinfo.cpp).
int qxCmdGetVersion(lua_State *L);
int qxCmdGetApplicationInfo(lua_State *L);
int qxCmdGetProgramInfo(lua_State *L);
int qxCmdGetFileArgument(lua_State *L);
int qxCmdGetCommandLine(lua_State *L);
int qxCmdGetSystemInfo(lua_State *L);
int qxCmdGetMemoryInfo(lua_State *L);
int qxCmdGetSystemLanguage(lua_State *L);
int qxCmdGetSystemCountry(lua_State *L);
int qxCmdGetLanguageInfo(lua_State *L);
int qxCmdGetCountryInfo(lua_State *L);
int qxCmdIsUnicode(lua_State *L);
int qxCmdGetConstant(lua_State *L);

// Console and debugging (qx_sysconsole.cpp).
int qxCmdConsolePrint(lua_State *L);
int qxCmdConsolePrintNR(lua_State *L);
int qxCmdDebugPrint(lua_State *L);
int qxCmdDebugPrintNR(lua_State *L);
int qxCmdConsolePrompt(lua_State *L);
int qxCmdDebugPrompt(lua_State *L);
int qxCmdDebugOutput(lua_State *L);
int qxCmdAssert(lua_State *L);

// Errors, control and catalogs (qx_syscontrol.cpp).
int qxCmdError(lua_State *L);
int qxCmdGetLastError(lua_State *L);
int qxCmdGetErrorName(lua_State *L);
int qxCmdExitOnError(lua_State *L);
int qxCmdRaiseOnError(lua_State *L);
int qxCmdEnd(lua_State *L);
int qxCmdEnableLineHook(lua_State *L);
int qxCmdDisableLineHook(lua_State *L);
int qxCmdWait(lua_State *L);
int qxCmdBeep(lua_State *L);
int qxCmdOpenURL(lua_State *L);
int qxCmdShowNotification(lua_State *L);
int qxCmdLegacyControl(lua_State *L);
int qxCmdCollectGarbage(lua_State *L);
int qxCmdGCInfo(lua_State *L);
int qxCmdOpenCatalog(lua_State *L);
int qxCmdCloseCatalog(lua_State *L);
int qxCmdGetCatalogString(lua_State *L);
int qxCmdNotSupported(lua_State *L);
void qxSysFreeCatalog(void);

// Dates and time (qx_sysdates.cpp).
int qxCmdGetDate(lua_State *L);
int qxCmdGetTime(lua_State *L);
int qxCmdGetWeekday(lua_State *L);
int qxCmdGetDateNum(lua_State *L);
int qxCmdMakeDate(lua_State *L);
int qxCmdParseDate(lua_State *L);
int qxCmdValidateDate(lua_State *L);
int qxCmdCompareDates(lua_State *L);
int qxCmdDateToTimestamp(lua_State *L);
int qxCmdDateToUTC(lua_State *L);
int qxCmdUTCToDate(lua_State *L);
int qxCmdGetTimestamp(lua_State *L);
int qxCmdTimestampToDate(lua_State *L);
int qxCmdGetTimeZone(lua_State *L);

// Stop-watch timers (qx_stopwatch.cpp).
int qxCmdStartTimer(lua_State *L);
int qxCmdStopTimer(lua_State *L);
int qxCmdPauseTimer(lua_State *L);
int qxCmdResumeTimer(lua_State *L);
int qxCmdResetTimer(lua_State *L);
int qxCmdGetTimer(lua_State *L);
int qxCmdWaitTimer(lua_State *L);
int qxSysRegisterTimers(void);
void qxSysFreeTimers(lua_State *L);

// Requesters and clipboard (qx_sysrequest.cpp).
int qxCmdSystemRequest(lua_State *L);
int qxCmdStringRequest(lua_State *L);
int qxCmdListRequest(lua_State *L);
int qxCmdPathRequest(lua_State *L);
int qxCmdFileRequest(lua_State *L);
int qxCmdFontRequest(lua_State *L);
int qxCmdColorRequest(lua_State *L);
int qxCmdSetClipboard(lua_State *L);
int qxCmdGetClipboard(lua_State *L);
int qxCmdPeekClipboard(lua_State *L);
int qxCmdClearClipboard(lua_State *L);
