/*
 * events.h - delivering events to an application's callbacks (and, with
 * the window layer, to its window), and ending an IDLE before a command.
 */
#ifndef TW_EVENTS_EVENTS_H
#define TW_EVENTS_EVENTS_H

#include "session/session.h"

/* Delivers an IMAP_EVENT_ to the session's callback for it, unless events
   are frozen, masked out, or raised on the idle worker. Returns what the
   delivery returned (0 without a window), or -1 for an unusable handle. */
LRESULT RaiseEvent(HCLIENT hClient, UINT nEventId, DWORD dwError);

/* Routes the session's socket notifications to a window; with NULL, stops
   any routing and makes the socket blocking again. 0 or -1. */
int SetNotifyWindow(HCLIENT hClient, UINT uMsg, HWND hWnd);

/* Stores the application's event window and message; with NULL, disables
   events. 0 or -1. */
int EnableEvents(HCLIENT hClient, HWND hEventWnd, UINT uEventMsg, UINT uEventMask);

/* Ends an IDLE in progress before another command; 0 when none runs, -1 on
   failure with the last error set. */
int EndIdle(HCLIENT hClient);

#endif
