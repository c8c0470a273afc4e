/* Message windows for games on Linux.
 *
 * The library tells a game about finished syncs and start-up with window
 * messages (WM_SYNC_RETURN 0x506B, WM_HOST_EVENT 0x506C, WM_INIT_RESULT
 * 0x506D, lParam 0), and its own hidden window needs the thread that called
 * Initialize to pump messages. On Windows the game uses USER32 for both; on
 * Linux it uses these functions: create a window to pass to SetCallbackHWnd
 * and StartSync, and run a loop on the thread that calls Initialize:
 *
 *     udra_msg msg;
 *     while (udra_get_message(&msg) > 0) udra_dispatch_message(&msg);
 *
 * A window belongs to the thread that created it; only that thread may
 * destroy it. Posting works from any thread.
 */
#ifndef UDRA_MESSAGE_WINDOW_H
#define UDRA_MESSAGE_WINDOW_H

#include <stdint.h>

#if defined(_WIN32) || !defined(__GNUC__)
#define UDRA_MW_API
#else
#define UDRA_MW_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* udra_hwnd;
/* A window procedure: its result is returned to a sender. */
typedef intptr_t (*udra_wndproc)(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam);

typedef struct udra_msg {
  udra_hwnd wnd; /* null for a message posted to the thread */
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
} udra_msg;

#define UDRA_WM_DESTROY 0x0002u
#define UDRA_WM_QUIT 0x0012u
#define UDRA_WM_TIMER 0x0113u
#define UDRA_WM_USER 0x0400u

/* Creates a message window owned by the calling thread whose procedure is
 * `proc`; `user` is kept for udra_window_user. Null on failure. */
UDRA_MW_API udra_hwnd udra_create_message_window(udra_wndproc proc, void* user);
/* Destroys a window (its procedure receives UDRA_WM_DESTROY first).
 * 1 on success, 0 on failure. */
UDRA_MW_API int udra_destroy_window(udra_hwnd wnd);
/* 1 while `wnd` is a window. */
UDRA_MW_API int udra_is_window(udra_hwnd wnd);
/* The `user` value given at creation; null for an unknown window. */
UDRA_MW_API void* udra_window_user(udra_hwnd wnd);

/* Waits for the calling thread's next message: 1 with a message, 0 after
 * udra_post_quit_message (msg->wparam holds the exit code), -1 on failure. */
UDRA_MW_API int udra_get_message(udra_msg* msg);
/* Takes (remove != 0) or looks at the next message without waiting: 1 with a
 * message, 0 when there is none. */
UDRA_MW_API int udra_peek_message(udra_msg* msg, int remove);
/* Runs the procedure of msg->wnd; its result, or 0. */
UDRA_MW_API intptr_t udra_dispatch_message(const udra_msg* msg);
/* Makes the calling thread's udra_get_message return 0. */
UDRA_MW_API void udra_post_quit_message(int exit_code);
/* Posts a message to `wnd` (null: to the calling thread); 1 on success. */
UDRA_MW_API int udra_post_message(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam);
/* What a procedure returns for messages it does not handle. */
UDRA_MW_API intptr_t udra_default_window_proc(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam);

#ifdef __cplusplus
}
#endif

#endif /* UDRA_MESSAGE_WINDOW_H */
