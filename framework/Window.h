#pragma once
// Window handles: something that receives posted and sent window messages.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "framework/Types.h"

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// A rectangle in pixels: left and top inclusive, right and bottom exclusive.
struct CRect {
    LONG left = 0, top = 0, right = 0, bottom = 0;
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
};

struct WindowMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class CWnd {
public:
    virtual ~CWnd() = default;
    // Queues the message and returns at once.
    virtual bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) = 0;
    // Delivers the message and waits until the window has handled it.
    virtual LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) = 0;
    // The client area, from 0,0; a window without one (a message-only window) gives 0 x 0.
    virtual void GetClientRect(CRect& rect) const { rect = CRect(); }
};

// The host's main window as the framework's current thread knows it: a host sets it on
// its user-interface thread; on any other thread, and before it is set, it is null.
CWnd* AfxGetMainWnd();
void AfxSetMainWnd(CWnd* pWnd);

// A ready-made window for hosts and tests: posted and sent messages land in one queue
// in arrival order; a sent message is also handed to the handler, if any, before
// SendMessage returns.
class CQueueWnd : public CWnd {
public:
    using Handler = std::function<LRESULT(const WindowMessage&)>;
    explicit CQueueWnd(Handler onSend = nullptr) : m_onSend(std::move(onSend)) {}

    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) override;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) override;

    // Takes the oldest message, waiting up to `ms`; false on time-out.
    bool GetMessage(WindowMessage& out, DWORD ms = INFINITE);
    // Waits up to `ms` until a message with this value has arrived (and takes it).
    bool WaitFor(UINT message, DWORD ms = INFINITE);
    size_t Count(UINT message) const;
    size_t Size() const;

private:
    void Push(const WindowMessage& m);
    Handler m_onSend;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<WindowMessage> m_queue;
};
