#include "platform/MessageBus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>

#include "framework/Sync.h"
#include "platform/Filters.h"
#include "platform/Services.h"

namespace {
// The state of the client whose worker runs on this thread (null on other threads).
thread_local const void* t_workerOf = nullptr;

using Queue = std::deque<std::unique_ptr<CVESKMessage>>;

bool SourceMatches(const int filter[2], int sourceA, int sourceB)
{
    return (filter[0] == -1 || filter[0] == sourceA) && (filter[1] == -1 || filter[1] == sourceB);
}
}  // namespace

// Everything the worker touches lives here, so a worker that outlives its client (the
// client was destroyed from its own callback) still finds it.
struct CMessageClient::State {
    std::mutex mutex;
    std::condition_variable work;  // the worker waits for messages, a priority or Stop
    std::condition_variable idle;  // WaitUntilEmpty waits for the queue to drain

    void* owner = nullptr;
    MessageCallback callback = nullptr;

    Queue queue;
    bool active = false;         // takes messages from the bus
    bool workerPaused = false;   // paused by the worker itself: intake goes on
    bool delivering = false;     // the callback is running
    bool stop = false;
    bool priorityPending = false;
    int priority = THREAD_PRIORITY_NORMAL;
    int sourceFilter[2] = {-1, -1};
    int sourceFilter2[2] = {-1, -1};
    int terminateReason = 0;

    bool Drained() const { return stop || (queue.empty() && !delivering); }
};

// ---- client ---------------------------------------------------------------------------

CMessageClient::CMessageClient(void* owner, int flag, MessageCallback callback)
    : m_nFlag(flag), m_state(std::make_shared<State>()), m_filters(std::make_unique<CAllFilters>())
{
    m_state->owner = owner;
    m_state->callback = callback;
    m_worker = std::thread(&CMessageClient::WorkerLoop, m_state);
}

CMessageClient::~CMessageClient()
{
    AttachTo(nullptr);  // no Dispatch reaches this client from here on
    Stop();
    if (!m_worker.joinable()) return;
    if (IsWorkerThread())
        m_worker.detach();  // destroyed from its own callback: the loop ends when it returns
    else
        m_worker.join();
}

bool CMessageClient::IsWorkerThread() const
{
    return t_workerOf == m_state.get();
}

void CMessageClient::WorkerLoop(std::shared_ptr<State> state)
{
    t_workerOf = state.get();
    State& s = *state;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.work.wait(lock, [&s] { return s.stop || s.priorityPending || !s.queue.empty(); });
        if (s.stop) break;
        if (s.priorityPending) {
            s.priorityPending = false;
            const int priority = s.priority;
            lock.unlock();
            SetCurrentThreadPriority(priority);  // best effort
            lock.lock();
            continue;
        }
        std::unique_ptr<CVESKMessage> message = std::move(s.queue.front());
        s.queue.pop_front();
        s.delivering = true;
        void* const owner = s.owner;
        const MessageCallback callback = s.callback;
        lock.unlock();
        // The callback may pause, resume, wait on or even destroy this client.
        if (callback) {
            try {
                callback(owner, message.get());
            } catch (...) {
                // A callback's failure is its own; the worker goes on with the next message
                // rather than take the host process down.
            }
        }
        message.reset();
        lock.lock();
        s.delivering = false;
        if (s.queue.empty()) s.idle.notify_all();
    }
    s.delivering = false;
    s.idle.notify_all();
    t_workerOf = nullptr;
}

bool CMessageClient::Offer(const CVESKMessage& message, int sourceA, int sourceB)
{
    State& s = *m_state;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.stop || !s.active) return false;
        if (!SourceMatches(s.sourceFilter, sourceA, sourceB) || !SourceMatches(s.sourceFilter2, sourceA, sourceB))
            return false;
    }
    if (!m_filters->PassesFilters(message)) return false;
    auto copy = std::make_unique<CVESKMessage>(message);
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.stop || !s.active) return false;
        // The worker sleeps only on an empty queue, so only the first message wakes it.
        wake = s.queue.empty();
        s.queue.push_back(std::move(copy));
    }
    if (wake) s.work.notify_one();
    return true;
}

void CMessageClient::Pause()
{
    State& s = *m_state;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (IsWorkerThread()) {
        // A roll-over inside the callback: intake goes on into the queue, and the
        // worker's Resume ends this pause without touching intake either, so a Pause
        // from another thread meanwhile stands.
        s.workerPaused = true;
        return;
    }
    s.active = false;
}

void CMessageClient::Resume()
{
    State& s = *m_state;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (IsWorkerThread() && s.workerPaused) {
        s.workerPaused = false;
        return;
    }
    if (s.stop) return;
    s.active = true;
    s.workerPaused = false;
}

void CMessageClient::Stop()
{
    State& s = *m_state;
    Queue dropped;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stop = true;
        s.active = false;
        s.workerPaused = false;
        dropped.swap(s.queue);
    }
    s.work.notify_all();
    s.idle.notify_all();
    // `dropped` frees the messages here, outside the lock.
}

bool CMessageClient::IsActive() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->active;
}

unsigned long CMessageClient::WaitUntilEmpty(DWORD ms)
{
    State& s = *m_state;
    std::unique_lock<std::mutex> lock(s.mutex);
    // The worker cannot wait for itself to deliver; the queue drains after it returns.
    if (!IsWorkerThread()) {
        if (ms == INFINITE)
            s.idle.wait(lock, [&s] { return s.Drained(); });
        else
            s.idle.wait_for(lock, std::chrono::milliseconds(ms), [&s] { return s.Drained(); });
    }
    return static_cast<unsigned long>(s.queue.size());
}

unsigned long CMessageClient::GetNumMessagesInFIFO() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<unsigned long>(m_state->queue.size());
}

void CMessageClient::Terminate(int reason)
{
    State& s = *m_state;
    Queue dropped;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.terminateReason = reason;
        dropped.swap(s.queue);
    }
    s.idle.notify_all();
}

int CMessageClient::GetTerminateReason() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->terminateReason;
}

CAllFilters* CMessageClient::GetFilters()
{
    return m_filters.get();
}

void CMessageClient::SetThreadPriority(int priority)
{
    State& s = *m_state;
    if (IsWorkerThread()) {
        SetCurrentThreadPriority(priority);
        std::lock_guard<std::mutex> lock(s.mutex);
        s.priority = priority;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.priority = priority;
        s.priorityPending = true;
    }
    s.work.notify_one();
}

void CMessageClient::SetSourceFilter(int a, int b)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->sourceFilter[0] = a;
    m_state->sourceFilter[1] = b;
}

void CMessageClient::SetSourceFilter2(int a, int b)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->sourceFilter2[0] = a;
    m_state->sourceFilter2[1] = b;
}

void CMessageClient::AttachTo(const std::shared_ptr<CMessageBus>& bus)
{
    std::lock_guard<std::mutex> lock(m_busMutex);
    if (auto old = m_bus.lock()) old->Unregister(this);
    m_bus = bus;
    if (bus) bus->Register(this);
}

void CMessageClient::AdoptCallback(void* owner, MessageCallback callback)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->callback && callback) {
        m_state->callback = callback;
        m_state->owner = owner;
    }
}

// ---- bus ------------------------------------------------------------------------------

void CMessageBus::Register(CMessageClient* client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_clients.begin(), m_clients.end(), client) == m_clients.end()) m_clients.push_back(client);
}

void CMessageBus::Unregister(CMessageClient* client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
}

int CMessageBus::Dispatch(const CVESKMessage& message, int sourceA, int sourceB)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int queued = 0;
    for (CMessageClient* client : m_clients)
        if (client->Offer(message, sourceA, sourceB)) ++queued;
    return queued;
}

size_t CMessageBus::ClientCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clients.size();
}

// ---- sender ---------------------------------------------------------------------------

CMessageSender::CMessageSender(CString name, CString description, int sourceA, int sourceB)
    : m_strName(std::move(name)), m_strDescription(std::move(description)), m_nSourceA(sourceA), m_nSourceB(sourceB)
{
}

bool CMessageSender::InjectMessage(CVESKMessage* message)
{
    const std::unique_ptr<CVESKMessage> owned(message);
    if (!owned) return false;
    Services::Bus()->Dispatch(*owned, m_nSourceA, m_nSourceB);
    return true;
}

// ---- Corekit's calls ------------------------------------------------------------------

namespace {
std::mutex g_archiveMutex;
CArchive* g_pMessageArchive = nullptr;
std::atomic<int> g_nSendersMade{0};
}  // namespace

CMessageClient* CreateMessageClient(void* owner, int flag, MessageCallback callback, int /*reserved*/)
{
    return new CMessageClient(owner, flag, callback);
}

int RegisterMessageClient(DWORD /*id*/, int /*flag*/, CMessageClient* client, MessageCallback callback, void* owner)
{
    if (!client) return 0;
    client->AdoptCallback(owner, callback);
    client->AttachTo(Services::Bus());
    return 1;
}

void DestroyMessageClient(CMessageClient** ppClient)
{
    if (!ppClient || !*ppClient) return;
    // The pointer stays valid until the worker is joined: a callback still running may
    // reach the client through its owner.
    delete *ppClient;
    *ppClient = nullptr;
}

CMessageSender* CreateMessageSender(const char* name, const char* description)
{
    return new CMessageSender(name ? name : "", description ? description : "", kSenderSourceA + g_nSendersMade++, 0);
}

void DestroyMessageSender(CMessageSender** ppSender)
{
    if (!ppSender || !*ppSender) return;
    delete *ppSender;
    *ppSender = nullptr;
}

void SetMessageArchive(CArchive* archive)
{
    std::lock_guard<std::mutex> lock(g_archiveMutex);
    g_pMessageArchive = archive;
}

void ReleaseMessageArchive(CArchive* archive)
{
    std::lock_guard<std::mutex> lock(g_archiveMutex);
    if (g_pMessageArchive == archive) g_pMessageArchive = nullptr;
}

CArchive* GetMessageArchive()
{
    std::lock_guard<std::mutex> lock(g_archiveMutex);
    return g_pMessageArchive;
}
