// The "dos" command library.
#include "libs/qx_corelibs.h"

#include "core/commands/qx_commands.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"

static constexpr qxCommandDef dosCommands[] = {
    {"OpenFile", qxCmdOpenFile},
    {"CloseFile", qxCmdCloseFile},
    {"FlushFile", qxCmdFlushFile},
    {"FilePos", qxCmdFilePos},
    {"FileLength", qxCmdFileLength},
    {"Eof", qxCmdEof},
    {"Seek", qxCmdSeek},
    {"FileAttributes", qxCmdFileAttributes},
    {"ReadLine", qxCmdReadLine},
    {"WriteLine", qxCmdWriteLine},
    {"ReadBytes", qxCmdReadBytes},
    {"ReadString", qxCmdReadString},
    {"ReadByte", qxCmdReadByte},
    {"ReadChr", qxCmdReadChr},
    {"ReadShort", qxCmdReadShort},
    {"ReadInt", qxCmdReadInt},
    {"ReadFloat", qxCmdReadFloat},
    {"WriteBytes", qxCmdWriteBytes},
    {"WriteString", qxCmdWriteString},
    {"WriteByte", qxCmdWriteByte},
    {"WriteChr", qxCmdWriteChr},
    {"WriteShort", qxCmdWriteShort},
    {"WriteInt", qxCmdWriteInt},
    {"WriteFloat", qxCmdWriteFloat},
    {"UseCarriageReturn", qxCmdUseCarriageReturn},
    {"SetIOMode", qxCmdSetIOMode},
    {"FileLines", qxCmdFileLines},
    {"FileToString", qxCmdFileToString},
    {"StringToFile", qxCmdStringToFile},
    {"GetAsset", qxCmdGetAsset},
    {"CRC32", qxCmdCRC32},
    {"MD5", qxCmdMD5},
    {"CompressFile", qxCmdCompressFile},
    {"DecompressFile", qxCmdDecompressFile},
    {"ApplyPatch", qxCmdApplyPatch},
    {"WriteTable", qxCmdWriteTable},
    {"ReadTable", qxCmdReadTable},
    {"WriteFunction", qxCmdWriteFunction},
    {"ReadFunction", qxCmdReadFunction},
    QX_DOSFS_COMMAND_ROWS,
    {nullptr, nullptr},
};

static constexpr qxConstantDef dosConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, 1004},
    {"MODE_WRITE", nullptr, 1006},
    {"MODE_READ", nullptr, 1005},
    {"COPYFILE_STATUS", nullptr, 0},
    {"COPYFILE_OVERWRITE", nullptr, 1},
    {"COPYFILE_UNPROTECT", nullptr, 2},
    {"MOVEFILE_UNPROTECT", nullptr, 0},
    {"MOVEFILE_COPY", nullptr, 1},
    {"MOVEFILE_DELETE", nullptr, 2},
    {"DELETEFILE_STATUS", nullptr, 0},
    {"DELETEFILE_UNPROTECT", nullptr, 1},
    {"IO_BUFFERED", nullptr, 0},
    {"IO_UNBUFFERED", nullptr, 1},
    {"FILEATTR_NORMAL", nullptr, 65536},
    {"FILEATTR_READ_USR", nullptr, 1},
    {"FILEATTR_WRITE_USR", nullptr, 2},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, 8},
    {"FILEATTR_READ_GRP", nullptr, 512},
    {"FILEATTR_WRITE_GRP", nullptr, 1024},
    {"FILEATTR_EXECUTE_GRP", nullptr, 2048},
    {"FILEATTR_READ_OTH", nullptr, 4096},
    {"FILEATTR_WRITE_OTH", nullptr, 8192},
    {"FILEATTR_EXECUTE_OTH", nullptr, 16384},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"SEEK_BEGINNING", nullptr, 1},
    {"SEEK_CURRENT", nullptr, 0},
    {"SEEK_END", nullptr, 2},
    {"COUNTFILES", nullptr, 0},
    {"COUNTDIRECTORIES", nullptr, 1},
    {"COUNTBOTH", nullptr, 2},
    {nullptr, nullptr, 0},
};

extern "C" int qxOpenDosLib(lua_State *L)
{
    qxDosCreateMetatables(L);
    qxDosInstallVirtualFiles();
    qxDosRegisterDirectories();
    return qxOpenCommandLibraryOf<dosCommands, dosConstants>(L, "dos");
}

extern "C" void qxCloseDosLib(lua_State *L)
{
    qxDosCloseFiles(L);
    qxDosCloseDirectories(L);
    qxDosFreePrograms(L);
    qxDosFreeVirtualFiles(L);
}
