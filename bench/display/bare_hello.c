/* The peer of bench_hello: what the bundled hello applet does, in bare Xlib
 * and plain C (no C++ runtime to load). Opens the connection, maps a 640x480
 * window, waits until it is mapped, fills it with one frame, prints three
 * lines and exits. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    Display *dpy = XOpenDisplay(NULL);
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
    uint32_t *frame = malloc(640 * 480 * sizeof *frame);
    if (!frame)
        return 1;
    for (int i = 0; i < 640 * 480; i++)
        frame[i] = 0xFF000000u;
    XImage *img = XCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), 24, ZPixmap, 0, (char *)frame, 640,
                               480, 32, 640 * 4);
    XPutImage(dpy, w, DefaultGC(dpy, DefaultScreen(dpy)), img, 0, 0, 0, 0, 640, 480);
    XSync(dpy, False);
    XDestroyImage(img); /* frees the frame too */
    int sum = 0;
    for (int i = 1; i <= 10; i++)
        sum += i;
    printf("Hello from Zephyrane!\n1 + 2 + ... + 10 = %d\nRunning on bare Xlib\n", sum);
    XCloseDisplay(dpy);
    return 0;
}
