// The "string" library: shared helpers of its command files and the
// handlers that its command table lists.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/vm/lua.h"

// Results longer than this fail with 1000 instead of allocating.
constexpr size_t QX_STR_MAX = 0x7FFFFFFF;

// The encoding argument at idx: 1 (UTF-8) or 0; absent follows the text mode.
int qxStrEncArg(lua_State *L, int idx);
// A string argument checked as UTF-8 when utf8 is set (1588); *chars counts
// characters (bytes otherwise), *bytes bytes.
std::string_view qxStrArg(lua_State *L, int idx, int utf8, size_t *chars = nullptr);
// Byte offset of the character with index n (clipped to the end).
size_t qxStrCharToByte(std::string_view s, size_t n, int utf8);
// Number of characters in s[0, byte).
size_t qxStrByteToChar(std::string_view s, size_t byte, int utf8);
// Length of the character at byte offset i (1 in byte mode).
size_t qxStrCharLen(std::string_view s, size_t i, int utf8);
// Decodes the character at *i and advances (bytes in byte mode).
uint32_t qxStrNextChar(std::string_view s, size_t *i, int utf8);
// Lower case of one character in the mode.
uint32_t qxStrLowerChar(uint32_t c, int utf8);
// Appends one code (UTF-8 encoded when utf8, else its low byte); false when
// the code encodes to nothing.
bool qxStrPutChar(std::string &out, uint32_t c, int utf8);
// Pushes a result string, 1000 when too long; returns 0 or the code.
int qxStrPush(lua_State *L, const std::string &s);
// The number at idx truncated to a 32-bit integer the way arguments are.
int qxStrIntArg(lua_State *L, int idx);
int qxStrOptIntArg(lua_State *L, int idx, int def);

// Character classes of the pattern matcher and the Is* commands.
enum QxCharClass { QX_CC_ALPHA, QX_CC_CNTRL, QX_CC_DIGIT, QX_CC_GRAPH, QX_CC_LOWER, QX_CC_PUNCT,
                   QX_CC_SPACE, QX_CC_UPPER, QX_CC_ALNUM, QX_CC_XDIGIT, QX_CC_PRINT };
int qxStrClassTest(QxCharClass cls, uint32_t c, int utf8);

// Searching, comparing, cutting and joining (qx_strcmds.cpp).
int qxCmdFindStr(lua_State *L);
int qxCmdCountStr(lua_State *L);
int qxCmdReplaceStr(lua_State *L);
int qxCmdStartsWith(lua_State *L);
int qxCmdEndsWith(lua_State *L);
int qxCmdCompareStr(lua_State *L);
int qxCmdLeftStr(lua_State *L);
int qxCmdRightStr(lua_State *L);
int qxCmdMidStr(lua_State *L);
int qxCmdUnleftStr(lua_State *L);
int qxCmdUnrightStr(lua_State *L);
int qxCmdUnmidStr(lua_State *L);
int qxCmdInsertStr(lua_State *L);
int qxCmdAddStr(lua_State *L);
int qxCmdRepeatStr(lua_State *L);
int qxCmdReverseStr(lua_State *L);
int qxCmdTrimStr(lua_State *L);
int qxCmdStripStr(lua_State *L);
int qxCmdEmptyStr(lua_State *L);
int qxCmdSplitStr(lua_State *L);
int qxCmdLowerStr(lua_State *L);
int qxCmdUpperStr(lua_State *L);
int qxCmdConvertStr(lua_State *L);

// Lengths, bytes, characters, numbers and classes (qx_strchars.cpp).
int qxCmdStrLen(lua_State *L);
int qxCmdByteLen(lua_State *L);
int qxCmdCharWidth(lua_State *L);
int qxCmdByteOffset(lua_State *L);
int qxCmdCharOffset(lua_State *L);
int qxCmdValidateStr(lua_State *L);
int qxCmdAsc(lua_State *L);
int qxCmdChr(lua_State *L);
int qxCmdByteAsc(lua_State *L);
int qxCmdByteChr(lua_State *L);
int qxCmdStrToArray(lua_State *L);
int qxCmdArrayToStr(lua_State *L);
int qxCmdByteStrStr(lua_State *L);
int qxCmdByteVal(lua_State *L);
int qxCmdVal(lua_State *L);
int qxCmdToNumber(lua_State *L);
int qxCmdStrStr(lua_State *L);
int qxCmdHexStr(lua_State *L);
int qxCmdBinStr(lua_State *L);
int qxCmdPadNum(lua_State *L);
int qxCmdToUserData(lua_State *L);
int qxCmdCRC32Str(lua_State *L);
int qxCmdMD5Str(lua_State *L);
int qxCmdBase64Str(lua_State *L);
int qxCmdIsAlNum(lua_State *L);
int qxCmdIsAlpha(lua_State *L);
int qxCmdIsCntrl(lua_State *L);
int qxCmdIsDigit(lua_State *L);
int qxCmdIsGraph(lua_State *L);
int qxCmdIsLower(lua_State *L);
int qxCmdIsPrint(lua_State *L);
int qxCmdIsPunct(lua_State *L);
int qxCmdIsSpace(lua_State *L);
int qxCmdIsUpper(lua_State *L);
int qxCmdIsXDigit(lua_State *L);

// Patterns (qx_strpattern.cpp).
int qxCmdPatternFindStr(lua_State *L);
int qxCmdPatternFindStrDirect(lua_State *L);
int qxCmdPatternFindStrShort(lua_State *L);
int qxCmdPatternReplaceStr(lua_State *L);

// Formatting and evaluation (qx_strformat.cpp, qx_eval.cpp).
int qxCmdFormatStr(lua_State *L);
int qxCmdToString(lua_State *L);
int qxCmdEval(lua_State *L);
