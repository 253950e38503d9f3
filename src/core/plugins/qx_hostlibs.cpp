// Host table, sub-tables 7, 8, 10 and 11: the player's own FreeType, VM
// programming interface, zlib and libjpeg, so that a plug-in needs none of
// its own.
#include <cstdio>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_FONT_FORMATS_H
#include FT_ADVANCES_H
#include FT_STROKER_H
#include <jpeglib.h>
#include <zlib.h>

#include "core/commands/qx_args.h"
#include "core/files/qx_chunkname.h"
#include "core/plugins/qx_hosttable.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"

namespace {

uint32_t hostObjectIdArg(lua_State *L, int narg, qxObjectRef *out)
{
    qxObjectRef ref = qxGetObjectIDArg(L, narg);
    if (out) *out = ref;
    return ref.number;
}

const char *hostFileNameArg(lua_State *L, int narg) { return qxGetFileNameArg(L, narg, 0, nullptr); }

uint32_t hostNewIdArg(lua_State *L, int narg, qxHostNewId *out)
{
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, narg, &automatic);
    if (out) {
        out->number = number;
        out->flag = uint64_t(automatic);
    }
    return number;
}

} // namespace

#define F(x) reinterpret_cast<qxHostFunc>(x)

extern "C" {

const qxHostFunc qxHostFreeType[QX_HOST_FREETYPE_SLOTS] = {
    F(FT_Init_FreeType), F(FT_Done_FreeType), F(FT_New_Face), F(FT_New_Memory_Face), F(FT_Load_Glyph),
    F(FT_Render_Glyph), F(FT_Get_Glyph), F(FT_Done_Glyph), F(FT_Outline_Transform), F(FT_Outline_Translate),
    F(FT_Outline_Get_Bitmap), F(FT_Outline_Get_CBox), F(FT_Outline_Decompose), F(FT_Done_Face),
    F(FT_Get_Char_Index), F(FT_Get_First_Char), F(FT_Get_Next_Char), F(FT_Set_Transform), F(FT_Set_Charmap),
    F(FT_Set_Pixel_Sizes), F(FT_Set_Char_Size), F(FT_MulFix), F(FT_Vector_Transform), F(FT_Get_Kerning),
    F(FT_Get_Sfnt_Table), F(FT_Load_Sfnt_Table), F(FT_Get_X11_Font_Format), F(FT_Get_Name_Index),
    F(FT_Get_Glyph_Name), F(FT_Select_Charmap), F(FT_Get_Advance), F(FT_Library_Version),
    F(FT_Outline_Embolden), F(FT_Stroker_New), F(FT_Stroker_Set), F(FT_Stroker_Done), F(FT_Glyph_Stroke),
    F(FT_Glyph_To_Bitmap),
};

const qxHostFunc qxHostVM[QX_HOST_VM_SLOTS] = {
    F(lua_gettop), F(lua_settop), F(lua_pushvalue), F(lua_remove), F(lua_insert), F(lua_replace),
    F(lua_iscfunction), F(lua_isnumber), F(lua_isstring), F(lua_isuserdata), F(lua_type), F(lua_equal),
    F(lua_rawequal), F(lua_lessthan), F(lua_tonumber), F(lua_tostring), F(lua_strlen), F(lua_tocfunction),
    F(lua_touserdata), F(lua_topointer), F(lua_pushnil), F(lua_pushnumber), F(lua_pushlstring),
    F(lua_pushstring), F(lua_pushlightuserdata), F(lua_pushcclosure), F(lua_gettable), F(lua_rawget),
    F(lua_rawgeti), F(lua_newtable), F(lua_getfenv), F(lua_settable), F(lua_rawset), F(lua_rawseti),
    F(lua_setfenv), F(lua_pcall), F(lua_next), F(lua_concat), F(lua_pushupvalues), F(lua_getupvalue),
    F(lua_setupvalue), F(lua_newuserdata), F(lua_setmetatable), F(lua_getmetatable), F(luaG_raisecode),
    F(luaL_checklstring), F(luaL_optlstring), F(luaL_checknumber), F(luaL_optnumber), F(luaL_checkint),
    F(luaL_optint), F(luaL_checktable), F(luaL_checkfunction), F(luaL_checktype), F(luaL_ref), F(luaL_unref),
    F(hostObjectIdArg), F(luaL_newmetatable), F(luaL_getmetatable), F(luaL_checkudata), F(luaL_buffinit),
    F(luaL_prepbuffer), F(luaL_addlstring), F(luaL_addstring), F(luaL_addvalue), F(luaL_pushresult),
    F(luaL_findstring), F(lua_checkstack), F(hostFileNameArg), F(hostNewIdArg), F(lua_pushboolean),
    F(lua_toboolean), F(lua_newsizedtable), F(lua_typename), F(lua_call), F(lua_getgcthreshold),
    F(lua_getgccount), F(lua_setgcthreshold),
};

const qxHostFunc qxHostZlib[QX_HOST_ZLIB_SLOTS] = {
    F(inflateInit_), F(inflate), F(inflateEnd), F(deflateInit_), F(deflate), F(deflateEnd), F(deflateReset),
    F(deflateParams), F(inflateReset), F(inflateSync), F(inflateInit2_), F(deflateInit2_), F(crc32),
};

// The interface version is the installed library's (JPEG_LIB_VERSION).
const qxHostFunc qxHostJpeg[QX_HOST_JPEG_SLOTS] = {
    F(jpeg_CreateDecompress), F(jpeg_finish_decompress), F(jpeg_destroy_decompress), F(jpeg_std_error),
    F(jpeg_read_header), F(jpeg_read_scanlines), F(jpeg_start_decompress), F(jpeg_resync_to_restart),
    F(jpeg_CreateCompress), F(jpeg_finish_compress), F(jpeg_destroy_compress), F(jpeg_start_compress),
    F(jpeg_set_defaults), F(jpeg_write_scanlines), F(jpeg_set_quality), F(jpeg_set_colorspace),
    F(jpeg_default_colorspace), F(jpeg_destroy), F(jpeg_abort), F(jpeg_suppress_tables), F(jpeg_write_raw_data),
    F(jpeg_write_tables), F(jpeg_read_raw_data), F(jpeg_save_markers), F(jpeg_calc_output_dimensions),
};
}
