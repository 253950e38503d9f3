// The GTK requester thread and its helpers (GTK reached through the
// run-time import table).
#pragma once

extern "C" {
// Starts the GTK requester thread once after testing the X server; 1 when
// it runs, 0 when the console must answer.
int qxGtkStartThread(void);
// Sets the quit flag and joins the thread (shutdown).
void qxGtkStopThread(void);
// New texts for and from GTK (g_free); NULL when the conversion fails.
char *qxGtkToUtf8(const char *text);
char *qxGtkFromUtf8(const char *text);
// "map-event" handler: makes the dialog transient for the request's parent
// window; 0 so that GTK goes on.
int qxGtkOnMap(void *widget, void *event, void *data);
void *qxGtkDialogContentArea(void *dialog);
void *qxGtkDialogActionArea(void *dialog);
// "insert_text" handler keeping only digits, "-" and ".".
void qxGtkNumericFilter(void *editable, const char *text, int length, int *position, void *data);
}

extern "C" {
// A desktop notification through libnotify: kind 1 information, 2 error,
// 3 warning; timeout 0 for the server's default. 0 (also when libnotify or
// GTK is missing) or 1000.
int qxShowNotification(const char *title, const char *text, int kind, int timeout,
                       const char *appName);
// Shutdown: notify_uninit when notifications were initialised.
void qxEndNotifications(void);
}
