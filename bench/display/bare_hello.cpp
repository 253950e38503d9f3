// The peer of bench_hello: what the bundled hello applet does, in bare Xlib.
// Opens the connection, maps a 640x480 window, waits until it is mapped,
// fills it with one frame, prints three lines and exits.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main()
{
    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return 1;
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 640, 480, 0, 0, 0);
    XStoreName(dpy, w, "Hello");
    XSelectInput(dpy, w, StructureNotifyMask);
    XMapWindow(dpy, w);
    for (XEvent e;;) {
        XNextEvent(dpy, &e);
        if (e.type == MapNotify)
            break;
    }
    std::vector<uint32_t> frame(640 * 480, 0xFF000000u);
    XImage *img = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), 24, ZPixmap, 0,
                               reinterpret_cast<char *>(frame.data()), 640, 480, 32, 640 * 4);
    XPutImage(dpy, w, DefaultGC(dpy, DefaultScreen(dpy)), img, 0, 0, 0, 0, 640, 480);
    XSync(dpy, False);
    img->data = nullptr;
    XDestroyImage(img);
    int sum = 0;
    for (int i = 1; i <= 10; i++)
        sum += i;
    std::printf("Hello from Zephyrane!\n1 + 2 + ... + 10 = %d\nRunning on bare Xlib\n", sum);
    XCloseDisplay(dpy);
    return 0;
}
