#include "framework/Window.h"

#include <algorithm>

#include "framework/Sync.h"

namespace {
thread_local CWnd* t_mainWnd = nullptr;
}

CWnd* AfxGetMainWnd()
{
    return t_mainWnd;
}

void AfxSetMainWnd(CWnd* pWnd)
{
    t_mainWnd = pWnd;
}

void CQueueWnd::Push(const WindowMessage& m)
{
    // Notified under the lock, so that a waiter that takes the message and then destroys
    // the window never races with this notification.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(m);
    m_cv.notify_all();
}

bool CQueueWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    Push({message, wParam, lParam});
    return true;
}

LRESULT CQueueWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const WindowMessage m{message, wParam, lParam};
    const LRESULT result = m_onSend ? m_onSend(m) : 0;
    Push(m);
    return result;
}

bool CQueueWnd::GetMessage(WindowMessage& out, DWORD ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!WaitUntilReady(m_cv, lock, ms, [this] { return !m_queue.empty(); })) return false;
    out = m_queue.front();
    m_queue.pop_front();
    return true;
}

bool CQueueWnd::WaitFor(UINT message, DWORD ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto find = [&] { return std::find_if(m_queue.begin(), m_queue.end(), [&](const WindowMessage& m) { return m.message == message; }); };
    if (!WaitUntilReady(m_cv, lock, ms, [&] { return find() != m_queue.end(); })) return false;
    m_queue.erase(find());
    return true;
}

size_t CQueueWnd::Count(UINT message) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_queue.begin(), m_queue.end(), [&](const WindowMessage& m) { return m.message == message; }));
}

size_t CQueueWnd::Size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}
