/* Reference picture of draw_paths.qxs drawn by cairo: the same paths on
 * the same background, filled and stroked with the same settings.
 *   path_ref OUT.png */
#include <cairo.h>

static void wave(cairo_t *cr)
{
    cairo_move_to(cr, 20, 80);
    cairo_curve_to(cr, 40, 10, 90, 10, 110, 60);
    cairo_line_to(cr, 60, 90);
    cairo_close_path(cr);
}

int main(int argc, char **argv)
{
    if (argc != 2) return 2;
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 160, 100);
    cairo_t *cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0);
    cairo_paint(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
    /* Filled in red, then its outline 5 wide with round joins in yellow. */
    wave(cr);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_fill(cr);
    wave(cr);
    cairo_set_source_rgb(cr, 1, 1, 0);
    cairo_set_line_width(cr, 5);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
    /* An open path 6 wide, mitred, with square caps, in white. */
    cairo_move_to(cr, 120, 20);
    cairo_line_to(cr, 150, 50);
    cairo_line_to(cr, 125, 80);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 6);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    cairo_stroke(cr);
    cairo_destroy(cr);
    int rc = cairo_surface_write_to_png(s, argv[1]) == CAIRO_STATUS_SUCCESS ? 0 : 1;
    cairo_surface_destroy(s);
    return rc;
}
