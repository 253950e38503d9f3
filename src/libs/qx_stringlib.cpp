// The "string" command library.
#include "libs/qx_corelibs.h"

#include "core/commands/qx_commands.h"
#include "libs/qx_strlib.h"

static constexpr qxCommandDef stringCommands[] = {
    {"FindStr", qxCmdFindStr},
    {"CountStr", qxCmdCountStr},
    {"ReplaceStr", qxCmdReplaceStr},
    {"StartsWith", qxCmdStartsWith},
    {"EndsWith", qxCmdEndsWith},
    {"CompareStr", qxCmdCompareStr},
    {"LeftStr", qxCmdLeftStr},
    {"RightStr", qxCmdRightStr},
    {"MidStr", qxCmdMidStr},
    {"UnleftStr", qxCmdUnleftStr},
    {"UnrightStr", qxCmdUnrightStr},
    {"UnmidStr", qxCmdUnmidStr},
    {"InsertStr", qxCmdInsertStr},
    {"AddStr", qxCmdAddStr},
    {"RepeatStr", qxCmdRepeatStr},
    {"ReverseStr", qxCmdReverseStr},
    {"TrimStr", qxCmdTrimStr},
    {"StripStr", qxCmdStripStr},
    {"EmptyStr", qxCmdEmptyStr},
    {"SplitStr", qxCmdSplitStr},
    {"StrLen", qxCmdStrLen},
    {"ByteLen", qxCmdByteLen},
    {"CharWidth", qxCmdCharWidth},
    {"ByteOffset", qxCmdByteOffset},
    {"CharOffset", qxCmdCharOffset},
    {"ValidateStr", qxCmdValidateStr},
    {"Asc", qxCmdAsc},
    {"Chr", qxCmdChr},
    {"ByteAsc", qxCmdByteAsc},
    {"ByteChr", qxCmdByteChr},
    {"StrToArray", qxCmdStrToArray},
    {"ArrayToStr", qxCmdArrayToStr},
    {"ByteStrStr", qxCmdByteStrStr},
    {"ByteVal", qxCmdByteVal},
    {"LowerStr", qxCmdLowerStr},
    {"UpperStr", qxCmdUpperStr},
    {"ConvertStr", qxCmdConvertStr},
    {"Val", qxCmdVal},
    {"ToNumber", qxCmdToNumber},
    {"StrStr", qxCmdStrStr},
    {"HexStr", qxCmdHexStr},
    {"BinStr", qxCmdBinStr},
    {"PadNum", qxCmdPadNum},
    {"ToUserData", qxCmdToUserData},
    {"CRC32Str", qxCmdCRC32Str},
    {"MD5Str", qxCmdMD5Str},
    {"Base64Str", qxCmdBase64Str},
    {"IsAlNum", qxCmdIsAlNum},
    {"IsAlpha", qxCmdIsAlpha},
    {"IsCntrl", qxCmdIsCntrl},
    {"IsDigit", qxCmdIsDigit},
    {"IsGraph", qxCmdIsGraph},
    {"IsLower", qxCmdIsLower},
    {"IsPrint", qxCmdIsPrint},
    {"IsPunct", qxCmdIsPunct},
    {"IsSpace", qxCmdIsSpace},
    {"IsUpper", qxCmdIsUpper},
    {"IsXDigit", qxCmdIsXDigit},
    {"PatternFindStr", qxCmdPatternFindStr},
    {"PatternFindStrDirect", qxCmdPatternFindStrDirect},
    {"PatternFindStrShort", qxCmdPatternFindStrShort},
    {"PatternReplaceStr", qxCmdPatternReplaceStr},
    {"FormatStr", qxCmdFormatStr},
    {"ToString", qxCmdToString},
    {"Eval", qxCmdEval},
    {nullptr, nullptr},
};

static constexpr qxConstantDef stringConstants[] = {
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenStringLib(lua_State *L)
{
    return qxOpenCommandLibraryOf<stringCommands, stringConstants>(L, "string");
}
