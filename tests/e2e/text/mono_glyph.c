/* FreeType's monochrome rendering of one glyph, loaded without the
 * auto-hinter, as a PGM (255 ink, 0 paper).
 * usage: mono_glyph FONT PIXELS CHAR OUT.pgm */
#include <stdio.h>
#include <stdlib.h>
#include <ft2build.h>
#include FT_FREETYPE_H

int main(int argc, char **argv)
{
    FT_Library lib;
    FT_Face face;
    if (argc != 5 || FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], 0, &face) ||
        FT_Set_Pixel_Sizes(face, 0, (FT_UInt)atoi(argv[2])))
        return 1;
    FT_UInt index = FT_Get_Char_Index(face, (unsigned char)argv[3][0]);
    if (!index || FT_Load_Glyph(face, index, FT_LOAD_NO_AUTOHINT) ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO))
        return 1;
    const FT_Bitmap *b = &face->glyph->bitmap;
    FILE *f = fopen(argv[4], "wb");
    if (!f) return 1;
    fprintf(f, "P5\n%u %u\n255\n", b->width, b->rows);
    for (unsigned y = 0; y < b->rows; ++y)
        for (unsigned x = 0; x < b->width; ++x)
            fputc(b->buffer[y * b->pitch + x / 8] & (0x80 >> (x % 8)) ? 255 : 0, f);
    return fclose(f) != 0;
}
