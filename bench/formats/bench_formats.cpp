// Decode and encode speed of the picture formats on a 1080p photo-like and
// a flat picture made by ImageMagick, each line against its peer in the
// same run: libpng and libjpeg-turbo called directly with the same output
// layout, stb_image, and ImageMagick / ilbmtoppm run as commands.
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <jpeglib.h>
#include <png.h>
#include <string>
#include <vector>

#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "objects/formats/qx_picformats.h"
#include "platform/qx_memory.h"

#ifdef QX_HAVE_STB
#include <stb_image.h>
#include <stb_image_write.h>
#endif

namespace {

constexpr int W = 1920, H = 1080;
const std::string dir = "/tmp/qx_bench_formats";

double seconds(const std::function<void()> &f, int runs)
{
    f(); // warm up
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

double commandSeconds(const std::string &cmd, int runs)
{
    return seconds([&] { (void)!std::system((cmd + " >/dev/null 2>&1").c_str()); }, runs);
}

std::vector<uint8_t> readFile(const std::string &path)
{
    std::vector<uint8_t> out;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        uint8_t b[65536];
        size_t n;
        while ((n = std::fread(b, 1, sizeof b, f)) > 0) out.insert(out.end(), b, b + n);
        std::fclose(f);
    }
    return out;
}

void line(const char *what, double ours, double peer, const char *peerName)
{
    double mpix = W * H / 1e6;
    std::printf("  %-22s ours %7.1f MPix/s  %-14s %7.1f MPix/s  time ratio %.2f\n", what, mpix / ours, peerName,
                mpix / peer, ours / peer);
}

// ---- Direct library decoders with our output layout ----
void directPng(const std::vector<uint8_t> &data, std::vector<uint32_t> &out)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&img, data.data(), data.size());
    img.format = PNG_FORMAT_BGRA;
    out.resize(size_t(img.width) * img.height);
    png_image_finish_read(&img, nullptr, out.data(), 0, nullptr);
}

void directJpeg(const std::vector<uint8_t> &data, std::vector<uint32_t> &out)
{
    jpeg_decompress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, data.data(), data.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&c);
    out.resize(size_t(c.output_width) * c.output_height);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(out.data() + size_t(c.output_scanline) * c.output_width);
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
}

void directJpegEncode(const std::vector<uint32_t> &px, std::vector<uint8_t> &out)
{
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = W, c.image_height = H, c.input_components = 4, c.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const uint8_t *>(px.data() + size_t(c.next_scanline) * W));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    out.assign(mem, mem + size);
    free(mem);
}

void directPngEncode(const std::vector<uint32_t> &px, const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, W, H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < H; ++y) png_write_row(png, reinterpret_cast<png_const_bytep>(px.data() + size_t(y) * W));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

template <typename Reader>
void ours(const std::string &path, Reader reader)
{
    qxFileHandle *f = qxOpen(path.c_str(), 1, nullptr);
    uint32_t w, h, *px = nullptr;
    reader(f, &w, &h, &px);
    qxFree(px);
    qxClose(f);
}

void bench(const char *kind, const std::string &magickSource)
{
    std::printf("%s picture, %dx%d\n", kind, W, H);
    std::string base = dir + "/" + kind;
    std::string cmd = "convert " + magickSource + " -depth 8 ";
    (void)!std::system((cmd + base + ".png && convert " + base + ".png -quality 90 " + base + ".jpg && convert " + base +
                        ".png BMP3:" + base + ".bmp && convert " + base + ".png " + base + ".gif && convert " + base +
                        ".png " + base + ".ppm && ppmtoilbm -24force " + base + ".ppm > " + base + ".ilbm 2>/dev/null")
                           .c_str());
    std::vector<uint8_t> png = readFile(base + ".png"), jpg = readFile(base + ".jpg");
    std::vector<uint32_t> out;
    int runs = 5;

    double pngOurs = seconds([&] { ours(base + ".png", [](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **p) {
                                 int e;
                                 qxLoadPNG(f, 0, w, h, p, nullptr, &e);
                             }); }, runs);
    // Each peer decode fills a new buffer, as ours returns a new picture.
    line("PNG decode", pngOurs, seconds([&] { std::vector<uint32_t> fresh; directPng(png, fresh); }, runs), "libpng");
    double jpgOurs = seconds([&] { ours(base + ".jpg", [](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **p) {
                                 qxLoadJPEG(f, 0, 0, 1, w, h, p);
                             }); }, runs);
    line("JPEG decode", jpgOurs, seconds([&] { std::vector<uint32_t> fresh; directJpeg(jpg, fresh); }, runs), "libjpeg-turbo");
#ifdef QX_HAVE_STB
    auto stb = [](const std::vector<uint8_t> &d) {
        int w, h, n;
        stbi_image_free(stbi_load_from_memory(d.data(), int(d.size()), &w, &h, &n, 4));
    };
    line("PNG decode", pngOurs, seconds([&] { stb(png); }, runs), "stb_image");
    line("JPEG decode", jpgOurs, seconds([&] { stb(jpg); }, runs), "stb_image");
#endif

    directJpeg(jpg, out);
    std::vector<uint32_t> px = out;
    std::vector<uint8_t> encoded;
    double jpgEnc = seconds([&] {
        qxJpegSaveRequest r{px.data(), W * 4, W, H, 90, 0, nullptr, nullptr, 0, 0};
        qxSaveJPEG(&r);
        qxFree(r.encoded);
        qxFree(r.result);
    }, runs);
    line("JPEG encode", jpgEnc, seconds([&] { directJpegEncode(px, encoded); }, runs), "libjpeg-turbo");
    std::string pngOut = dir + "/out.png";
    double pngEnc = seconds([&] {
        qxPngSaveRequest r{pngOut.c_str(), px.data(), W * 4, W, H, 0, 0};
        qxSavePNG(&r);
    }, 2);
    line("PNG encode", pngEnc, seconds([&] { directPngEncode(px, pngOut); }, 2), "libpng");
#ifdef QX_HAVE_STB
    std::vector<uint8_t> rgb(size_t(W) * H * 3);
    for (size_t i = 0; i < px.size(); ++i) rgb[3 * i] = uint8_t(px[i] >> 16), rgb[3 * i + 1] = uint8_t(px[i] >> 8), rgb[3 * i + 2] = uint8_t(px[i]);
    line("JPEG encode", jpgEnc, seconds([&] { stbi_write_jpg((dir + "/stb.jpg").c_str(), W, H, 3, rgb.data(), 90); }, runs), "stb_image_write");
    line("PNG encode", pngEnc, seconds([&] { stbi_write_png((dir + "/stb.png").c_str(), W, H, 3, rgb.data(), W * 3); }, 2), "stb_image_write");
#endif

    double startup = commandSeconds("convert -size 1x1 xc:black null:", 3);
    auto im = [&](const std::string &path) { return std::max(1e-4, commandSeconds("convert " + path + " null:", 3) - startup); };
    line("BMP decode", seconds([&] { ours(base + ".bmp", [](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **p) {
             qxLoadBMP(f, 0, w, h, p);
         }); }, runs), im(base + ".bmp"), "ImageMagick");
    line("GIF decode", seconds([&] { qxPictureHandle *hd = nullptr; uint32_t w, h;
             qxLoadPictureAny((base + ".gif").c_str(), "inbuilt", nullptr, nullptr, 0xFFFFFFFF, 0, &hd, nullptr, nullptr, &w, &h, nullptr, nullptr, nullptr);
             qxFreePictureHeader(hd); }, runs), im(base + ".gif"), "ImageMagick");
    line("ILBM decode", seconds([&] { ours(base + ".ilbm", [](qxFileHandle *f, uint32_t *w, uint32_t *h, uint32_t **p) {
             uint32_t t;
             qxLoadILBM(f, 0, nullptr, 0xFFFFFFFF, 0, 0, &t, w, h, p, nullptr);
         }); }, runs), commandSeconds("ilbmtoppm " + base + ".ilbm", 3), "ilbmtoppm");
}

} // namespace

int main()
{
    (void)!std::system(("mkdir -p " + dir).c_str());
    std::string size = std::to_string(W) + "x" + std::to_string(H);
    bench("photo", "-seed 7 -size " + size + " plasma:fractal -blur 0x1 -attenuate 0.3 +noise Gaussian");
    bench("flat", "-size " + size + " xc:white -fill '#3366cc' -draw 'rectangle 100,100 900,700' -fill '#cc3333' "
                  "-draw 'circle 1400,500 1400,900' -fill black -draw 'rectangle 0,1000 1920,1080'");
    (void)!std::system(("rm -rf " + dir).c_str());
    return 0;
}
