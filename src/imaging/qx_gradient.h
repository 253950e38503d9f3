// Linear, radial and conical colour gradients with colour stops.
#pragma once
#include <cstdint>

enum : int32_t { QX_GRADIENT_LINEAR = 2, QX_GRADIENT_RADIAL = 3, QX_GRADIENT_CONICAL = 4 };
enum : int32_t { QX_GRADIENT_PAD = 2, QX_GRADIENT_REFLECT = 3 };

struct qxGradientStop {
    uint32_t colour; // 0xRRGGBB
    double position; // 0.0-1.0
};

struct qxGradient {
    int32_t type;
    uint32_t startColour, endColour;
    int32_t stopCount; // 0: start and end colours
    int32_t angle;
    qxGradientStop stops[64];
    double centreX, centreY; // fractions of the rectangle
    double middle;           // conical
    double sizeFactor;       // radial
};

struct qxGradientRender {
    void *pixels;
    uint32_t bytesPerPixel;
    uint32_t layout;
    int32_t x, y, width, height;
    int32_t pitch; // pixels
    const qxGradient *gradient;
};

struct qxWalkerStop {
    int32_t position; // 16.16
    uint16_t red, green, blue, alpha;
};

struct qxGradientWalker {
    int64_t left, right;
    uint32_t leftG, leftRB, rightG, rightRB;
    int64_t stepper;
    int32_t repeat;
    int32_t stopCount;
    qxWalkerStop stops[66];
    int32_t needReset;
};

extern "C" {
void qxDrawGradient(const qxGradientRender *record);
// Fills a walker's stops from a gradient description.
void qxGradientWalkerInit(qxGradientWalker *walker, const qxGradient *gradient);
void qxGradientWalkerReset(qxGradientWalker *walker, int64_t position);
uint32_t qxGradientFetch32(qxGradientWalker *walker, int64_t position);
uint32_t qxGradientFetch16(qxGradientWalker *walker, int64_t position);
}
