// Reference pictures of draw_geometry.qxs and draw_shapes.qxs: the shapes'
// outlines worked out from the tessellation rules (16.16 fixed point on
// whole-degree tables), then rasterised by OpenCV as the player's masks
// are, on white; the anti-aliased pies of the vector engine as OpenCV's
// sectors averaged down.
//   geometry_ref geometry|shapes|pies OUT (a binary PPM)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using Pts = std::vector<cv::Point>;

static double cosT[361], sinT[361];

static void tables()
{
    for (int i = 1; i <= 360; i++) {
        cosT[i] = std::cos((360 - i) * 0.017453292519943295);
        sinT[i] = std::sin((360 - i) * 0.017453292519943295);
    }
    cosT[0] = 1.0, sinT[0] = -2.4492935982947064e-16;
}

// The ellipse or arc points about (cx, cy); with a pie the centre ends it.
static Pts arc(int cx, int cy, int rx, int ry, int s, int e, bool pie)
{
    const int r = std::max(rx, ry), step = r <= 2 ? 90 : r <= 9 ? 30 : r <= 14 ? 18 : 5;
    if (s > e) std::swap(s, e);
    while (s < 0) s += 360, e += 360;
    while (e > 360) s -= 360, e -= 360;
    if (e - s > 360) s = 0, e = 360;
    Pts p;
    for (int a = s; a < e + step; a += step) {
        const int k = std::min(a, e);
        cv::Point q(int(std::lrint(cx * 65536.0 + rx * 65536.0 * cosT[k]) >> 16),
                    int(std::lrint(cy * 65536.0 + ry * 65536.0 * sinT[k]) >> 16));
        if (p.empty() || p.back() != q) p.push_back(q);
    }
    if (pie && e - s < 360) p.push_back({cx, cy});
    return p;
}

static Pts moved(Pts p, int x, int y)
{
    for (cv::Point &q : p) q += cv::Point(x, y);
    return p;
}

static void fill(cv::Mat &img, const Pts &p, cv::Scalar c, bool aa)
{
    // The coverage first, then the colour through it, as the player composes.
    cv::Mat cov(img.size(), CV_8UC1, cv::Scalar(0));
    cv::fillPoly(cov, std::vector<Pts>{p}, cv::Scalar(255), aa ? cv::LINE_AA : cv::LINE_8);
    for (int y = 0; y < img.rows; y++)
        for (int x = 0; x < img.cols; x++) {
            const int a = cov.at<uchar>(y, x);
            cv::Vec3b &d = img.at<cv::Vec3b>(y, x);
            for (int k = 0; k < 3; k++) d[k] = uchar((c[k] * a + d[k] * (255 - a) + 127) / 255);
        }
}

// The polygon moved outwards by b along each corner's bisector (mitred).
static Pts border(const Pts &p, double b)
{
    double area = 0;
    for (size_t i = 0; i < p.size(); i++) {
        const cv::Point &a = p[i], &c = p[(i + 1) % p.size()];
        area += double(a.x) * c.y - double(c.x) * a.y;
    }
    const int orient = area > 0 ? 1 : -1;
    Pts out;
    for (size_t i = 0; i < p.size(); i++) {
        const cv::Point &q = p[i], &pr = p[(i + p.size() - 1) % p.size()], &nx = p[(i + 1) % p.size()];
        double d1x = q.x - pr.x, d1y = q.y - pr.y, d2x = q.x - nx.x, d2y = q.y - nx.y;
        const double l1 = std::hypot(d1x, d1y), l2 = std::hypot(d2x, d2y);
        d1x /= l1, d1y /= l1, d2x /= l2, d2y /= l2;
        const double cross = d1x * d2y - d1y * d2x, dot = d1x * d2x + d1y * d2y;
        const double sign = orient < 0 ? (cross > 0 ? 1 : -1) : (cross < 0 ? 1 : -1);
        const double k = sign * b / std::sqrt(1 - dot * dot);
        out.push_back({int(std::lrint(q.x + (d1x + d2x) * k)), int(std::lrint(q.y + (d1y + d2y) * k))});
    }
    return out;
}

const cv::Scalar black(0, 0, 0), red(0, 0, 255), blue(255, 0, 0), green(0, 128, 0);

static cv::Mat geometry()
{
    cv::Mat img(200, 320, CV_8UC3, cv::Scalar(255, 255, 255));
    // Arc 0..90 clockwise: the quarter from 3 to 6 o'clock, a pie.
    fill(img, moved(arc(25, 25, 25, 25, -90, 0, true), 10, 10), black, false);
    // Arc 180..300 clockwise: 120 degrees over the top.
    fill(img, moved(arc(15, 15, 15, 15, -300, -180, true), 70, 10), red, false);
    // Arc 0..90 anticlockwise: three quarters.
    fill(img, moved(arc(15, 15, 15, 15, -360, -90, true), 110, 10), blue, false);
    // Circles of radius 1, 5 and 12: steps of 90, 30 and 18 degrees.
    fill(img, moved(arc(1, 1, 1, 1, 0, 360, false), 150, 10), black, false);
    fill(img, moved(arc(5, 5, 5, 5, 0, 360, false), 160, 10), black, false);
    fill(img, moved(arc(12, 12, 12, 12, 0, 360, false), 180, 10), black, false);
    // An anti-aliased circle of radius 20, 5-degree steps.
    fill(img, moved(arc(20, 20, 20, 20, 0, 360, false), 220, 10), blue, true);
    // A triangle with a 4-pixel mitred border, and an anti-aliased one.
    const Pts tri = {{0, 0}, {40, 0}, {20, 34}};
    fill(img, moved(border(tri, 4), 20, 80), red, false);
    fill(img, moved(tri, 20, 80), green, false);
    fill(img, moved(tri, 80, 80), black, true);
    // #FILLNONE boxes: line width 3 centred on the outline, and a 1 x 1 box.
    // The outline's picture is the box grown by the width, 1 up and left: what
    // OpenCV's thick line draws beyond that is cut.
    const Pts box = {{140, 80}, {179, 80}, {179, 93}, {140, 93}, {140, 80}};
    cv::Mat ring(img.size(), CV_8UC1, cv::Scalar(0));
    cv::polylines(ring, std::vector<Pts>{box}, true, cv::Scalar(255), 3, cv::LINE_8);
    img(cv::Rect(139, 79, 43, 17)).setTo(red, ring(cv::Rect(139, 79, 43, 17)));
    img.at<cv::Vec3b>(80, 200) = cv::Vec3b(255, 0, 0);
    // A line of thickness 5.
    cv::line(img, {200, 150}, {300, 180}, green, 5, cv::LINE_8);
    return img;
}

static cv::Mat shapes()
{
    cv::Mat img(120, 200, CV_8UC3, cv::Scalar(255, 255, 255));
    img(cv::Rect(10, 10, 40, 30)).setTo(red);
    img(cv::Rect(67, 7, 36, 26)).setTo(blue); // #EDGE border of 3
    img(cv::Rect(70, 10, 30, 20)).setTo(cv::Scalar(0, 255, 0));
    fill(img, moved(arc(25, 25, 25, 25, 0, 360, false), 125, 15), black, true);
    fill(img, moved({{0, 0}, {50, 0}, {25, 40}}, 20, 60), blue, true);
    img(cv::Rect(100, 100, 81, 1)).setTo(cv::Scalar(255, 0, 255)); // Line
    img(cv::Rect(120, 80, 10, 10)).setTo(green);
    img(cv::Rect(84, 49, 20, 15)).setTo(cv::Scalar(128, 128, 128)); // #SHADOW, south-east by 4
    img(cv::Rect(80, 45, 20, 15)).setTo(cv::Scalar(0, 255, 255));
    cv::rectangle(img, cv::Rect(150, 75, 30, 15), red, 1, cv::LINE_8); // #FILLNONE: a 1-pixel outline
    img.at<cv::Vec3b>(5, 5) = cv::Vec3b(0x56, 0x34, 0x12); // Plot
    return img;
}

// An anti-aliased pie of radius r whose ellipse box has its corner at
// (x, y), from a to b degrees clockwise: OpenCV fills the sector (or strokes
// its outline lw wide, round ends) 16 times finer and averages it down. The
// engine's curves are Bezier pieces of up to half a turn, which stray from
// the circle by up to a quarter of a pixel at this radius.
static void pie(cv::Mat &img, int x, int y, int r, int a, int b, cv::Scalar c, int lw = 0)
{
    const int S = 16, m = 2, n = (2 * r + 2 * m) * S;
    cv::Mat big(n, n, CV_8UC1, cv::Scalar(0)), cov;
    // Edge coordinate e of the box is pixel-centre coordinate e * S - 0.5;
    // an outline's stroke begins at the box's corner, as the full ellipse's does.
    const double o = lw / 2.0 + m;
    auto at = [&](double ex, double ey) {
        return cv::Point(int(std::lrint(((ex + o) * S - 0.5) * 16)), int(std::lrint(((ey + o) * S - 0.5) * 16)));
    };
    const cv::Point centre = at(r, r);
    const cv::Size axes(r * S * 16, r * S * 16);
    if (!lw) {
        cv::ellipse(big, centre, axes, 0, a, b, cv::Scalar(255), cv::FILLED, cv::LINE_8, 4);
    } else {
        cv::ellipse(big, centre, axes, 0, a, b, cv::Scalar(255), lw * S, cv::LINE_8, 4);
        for (int k : {a, b})
            cv::line(big, centre, at(r + r * std::cos(k * CV_PI / 180), r + r * std::sin(k * CV_PI / 180)),
                     cv::Scalar(255), lw * S, cv::LINE_8, 4);
    }
    cv::resize(big, cov, cv::Size(n / S, n / S), 0, 0, cv::INTER_AREA);
    for (int j = 0; j < cov.rows; j++)
        for (int i = 0; i < cov.cols; i++) {
            const int px = x - m + i, py = y - m + j, k = cov.at<uchar>(j, i);
            if (!k || px < 0 || py < 0 || px >= img.cols || py >= img.rows) continue;
            cv::Vec3b &d = img.at<cv::Vec3b>(py, px);
            for (int ch = 0; ch < 3; ch++) d[ch] = cv::saturate_cast<uchar>(d[ch] + (c[ch] - d[ch]) * k / 255.0);
        }
}

static cv::Mat pies()
{
    cv::Mat img(80, 200, CV_8UC3, cv::Scalar(255, 255, 255));
    // The four quarters and the lower half clockwise, in place in their ellipses.
    pie(img, 5, 5, 15, 0, 90, black);
    pie(img, 40, 5, 15, 90, 180, red);
    pie(img, 75, 5, 15, 180, 270, blue);
    pie(img, 110, 5, 15, 270, 360, green);
    pie(img, 145, 5, 15, 0, 180, black);
    // Anticlockwise 0..90: three quarters.
    pie(img, 5, 42, 15, 90, 360, red);
    // #FILLNONE: the outlines, 1 pixel wide.
    pie(img, 45, 42, 15, 0, 90, blue, 1);
    pie(img, 85, 42, 15, 90, 360, black, 1);
    // A 1 x 1 box is one pixel.
    img.at<cv::Vec3b>(70, 190) = cv::Vec3b(0, 0, 0);
    return img;
}

int main(int argc, char **argv)
{
    if (argc != 3) return 2;
    tables();
    const std::string scene = argv[1];
    const cv::Mat img = scene == "shapes" ? shapes() : scene == "pies" ? pies() : geometry();
    FILE *f = std::fopen(argv[2], "wb");
    if (!f) return 1;
    std::fprintf(f, "P6\n%d %d\n255\n", img.cols, img.rows);
    for (int y = 0; y < img.rows; y++)
        for (int x = 0; x < img.cols; x++) {
            const cv::Vec3b &p = img.at<cv::Vec3b>(y, x);
            const unsigned char rgb[3] = {p[2], p[1], p[0]};
            std::fwrite(rgb, 1, 3, f);
        }
    return std::fclose(f) == 0 ? 0 : 1;
}
