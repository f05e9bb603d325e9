#include "platform/MessageBus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>

#include "framework/Sync.h"
#include "platform/Filters.h"
#include "platform/Services.h"
#include "platform/Settings.h"

namespace {
// The state of the client whose worker runs on this thread (null on other threads).
// Asked once a message: in the static block, which a loaded library's one pointer fits.
thread_local const void* t_workerOf __attribute__((tls_model("initial-exec"))) = nullptr;

// A delivered message whose data block holds more than this is freed rather than kept
// for reuse, so one huge message cannot sit in the spares.
constexpr size_t kLargestSpare = 64 * 1024;
// What a queued message costs beyond its object and data: its entries in the queue and
// the worker's batch, its place among the spares and the allocator's headers, roughly.
constexpr size_t kBookkeeping = 64;

bool SourceMatches(const int filter[2], int sourceA, int sourceB)
{
    return (filter[0] == -1 || filter[0] == sourceA) && (filter[1] == -1 || filter[1] == sourceB);
}

size_t QueueBoundFromSettings()
{
    const int mb = GetSettingInt(GetSettingsStore(), kQueueSettingsSection, kQueueSettingsKey, kDefaultQueueMB);
    return static_cast<size_t>(std::clamp(mb, 1, kMaxQueueMB)) << 20;
}
}  // namespace

// Everything the worker and waiting dispatches touch lives here, so a worker that
// outlives its client (the client was destroyed from its own callback) still finds it.
struct CMessageClient::State {
    struct Item {
        std::unique_ptr<CVESKMessage> message;
        size_t bytes = 0;  // what it counts against the bound: footprint and bookkeeping
    };
    using Queue = std::vector<Item>;

    std::mutex mutex;
    std::condition_variable work;  // the worker waits for messages, a priority or Stop
    std::condition_variable idle;  // WaitUntilEmpty waits for the queue to drain
    std::condition_variable room;  // dispatches wait for room in the queue

    void* owner = nullptr;
    MessageCallback callback = nullptr;
    IdleCallback idleCallback = nullptr;

    Queue queue;
    // Delivered messages kept for reuse; they and the queue together stay within the bound.
    std::vector<std::unique_ptr<CVESKMessage>> spares;
    size_t bound = size_t{kDefaultQueueMB} << 20;
    size_t queuedBytes = 0;  // the queue and the worker's batch until it gives them back
    size_t spareBytes = 0;
    // The worker's batch. The worker counts in `claimed` the messages it has taken for
    // delivery, with a plain store and a light fence before it looks at `cut`; Terminate
    // and Stop set `cut`, pass the heavy fence and read `claimed` (under the lock). So
    // either the worker sees the cut before it delivers a message, or the cut sees that
    // message claimed; a worker that sees the cut asks, under the lock, where the batch
    // was cut. Every message of a batch is thus either delivered or counted as dropped,
    // exactly, without an atomic read-modify-write per message. On a cache line of their
    // own: the dispatching thread writes the fields around them once a message too.
    alignas(64) std::atomic<size_t> claimed{0};
    std::atomic<bool> cut{false};
    char batchLine[64 - sizeof(std::atomic<size_t>) - sizeof(std::atomic<bool>)] = {};
    size_t batchSize = 0;
    size_t cutAt = 0;  // where Terminate or Stop cut the batch: the messages before it are delivered
    bool active = false;         // takes messages from the bus
    bool workerPaused = false;   // paused by the worker itself: intake goes on
    bool busy = false;           // the worker is delivering a batch
    bool detached = false;       // destroyed from its own callback: the owner may be gone
    bool workerWaiting = false;  // the worker sleeps until a message comes
    bool stop = false;
    bool priorityPending = false;
    int roomWaiters = 0;
    int priority = THREAD_PRIORITY_NORMAL;
    int sourceFilter[2] = {-1, -1};
    int sourceFilter2[2] = {-1, -1};
    int terminateReason = 0;
    uint64_t dropped = 0;
    uint64_t waits = 0;

    bool Drained() const { return stop || (queue.empty() && !busy); }
    size_t InFifo() const
    {
        const size_t claimedNow = std::min(claimed.load(std::memory_order_relaxed), batchSize);
        return queue.size() + (busy && !cut.load(std::memory_order_relaxed) ? batchSize - claimedNow : 0);
    }
    bool Takes() const { return active && !stop; }

    bool HasRoomFor(const CVESKMessage& m) const
    {
        if (queuedBytes == 0) return true;
        size_t need = sizeof(CVESKMessage) + static_cast<size_t>(std::max(m.GetDataLength(), 0)) + kBookkeeping;
        if (!spares.empty()) need = std::max(need, spares.back()->MemoryFootprint() + kBookkeeping);
        return queuedBytes + need <= bound;
    }

    // Queues a copy, into a spare message when there is one.
    void Push(const CVESKMessage& m)
    {
        std::unique_ptr<CVESKMessage> slot;
        if (spares.empty()) {
            slot = std::make_unique<CVESKMessage>(m);
        } else {
            slot = std::move(spares.back());
            spares.pop_back();
            spareBytes -= slot->MemoryFootprint();
            *slot = m;
        }
        const size_t bytes = slot->MemoryFootprint() + kBookkeeping;
        queuedBytes += bytes;
        queue.push_back({std::move(slot), bytes});
    }

    // Gives back the room of delivered or dropped messages and keeps what fits as spares.
    void Release(Queue::iterator first, Queue::iterator last)
    {
        for (auto it = first; it != last; ++it) {
            queuedBytes -= it->bytes;
            if (!it->message) continue;
            const size_t footprint = it->message->MemoryFootprint();
            if (footprint - sizeof(CVESKMessage) <= kLargestSpare && queuedBytes + spareBytes + footprint <= bound) {
                spareBytes += footprint;
                spares.push_back(std::move(it->message));
            }
        }
        if (roomWaiters) room.notify_all();
    }

    void WakeWorker()
    {
        if (!workerWaiting) return;
        workerWaiting = false;
        work.notify_one();
    }

    // The worker takes message `index` of its batch for delivery, unless the batch was
    // cut before it.
    bool Claim(size_t index)
    {
        claimed.store(index + 1, std::memory_order_relaxed);
        LightFence();
        if (!cut.load(std::memory_order_relaxed)) return true;
        std::lock_guard<std::mutex> lock(mutex);
        return index < cutAt;
    }

    // Drops the queue and the rest of the worker's batch (Terminate, Stop).
    void DropQueued()
    {
        dropped += queue.size();
        Release(queue.begin(), queue.end());
        queue.clear();
        if (!busy || cut.load(std::memory_order_relaxed)) return;
        cut.store(true, std::memory_order_relaxed);
        HeavyFence();
        cutAt = std::min(claimed.load(std::memory_order_relaxed), batchSize);
        dropped += batchSize - cutAt;
    }
};

// ---- client ---------------------------------------------------------------------------

CMessageClient::CMessageClient(void* owner, int flag, MessageCallback callback)
    : m_nFlag(flag), m_state(std::make_shared<State>()), m_filters(std::make_unique<CAllFilters>())
{
    m_state->owner = owner;
    m_state->callback = callback;
    m_state->bound = QueueBoundFromSettings();
    EnableAsymmetricFences();  // before the worker first claims a message
    m_worker = std::thread(&CMessageClient::WorkerLoop, m_state);
}

CMessageClient::~CMessageClient()
{
    AttachTo(nullptr);  // no Dispatch reaches this client from here on
    Stop();
    if (!m_worker.joinable()) return;
    if (IsWorkerThread()) {
        // Destroyed from its own callback: the loop ends when it returns.
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->detached = true;
        m_worker.detach();
    } else {
        m_worker.join();
    }
}

template <typename T>
T CMessageClient::Read(T State::*field) const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return (*m_state).*field;
}

bool CMessageClient::IsWorkerThread() const
{
    return t_workerOf == m_state.get();
}

namespace {
// Hands the worker's batch to the callback, one message at a time, giving room back
// every quarter of the bound so that a waiting source goes on while the batch is long.
template <typename State, typename Batch>
void DeliverBatch(State& s, Batch& batch, void* owner, MessageCallback callback, size_t chunk)
{
    size_t released = 0, pendingBytes = 0;
    for (size_t index = 0; index < batch.size() && s.Claim(index); ++index) {
        // The messages ahead come from the dispatching thread's cache while this one is
        // delivered (a logger's write takes a while): the object after next, whose fields
        // are then at hand for fetching the next one's data here.
        if (index + 2 < batch.size()) __builtin_prefetch(batch[index + 2].message.get());
        if (index + 1 < batch.size() && batch[index + 1].message)
            __builtin_prefetch(batch[index + 1].message->GetData());
        // The callback may pause, resume, wait on or even destroy this client.
        if (callback) {
            try {
                callback(owner, batch[index].message.get());
            } catch (...) {
                // A callback's failure is its own; the worker goes on with the next message
                // rather than take the host process down.
            }
        }
        pendingBytes += batch[index].bytes;
        if (pendingBytes >= chunk) {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.Release(batch.begin() + static_cast<std::ptrdiff_t>(released),
                      batch.begin() + static_cast<std::ptrdiff_t>(index + 1));
            released = index + 1;
            pendingBytes = 0;
        }
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    s.Release(batch.begin() + static_cast<std::ptrdiff_t>(released), batch.end());
    batch.clear();
}

// Tells the owner that the worker has delivered everything it had, outside the lock;
// not when the client was destroyed from its own callback (the owner may be gone).
template <typename State>
void RunIdleCallback(State& s, std::unique_lock<std::mutex>& lock)
{
    if (!s.idleCallback || s.detached) return;
    void* const owner = s.owner;
    const IdleCallback idle = s.idleCallback;
    lock.unlock();
    idle(owner);
    lock.lock();
}
}  // namespace

void CMessageClient::WorkerLoop(std::shared_ptr<State> state)
{
    t_workerOf = state.get();
    MarkThreadUncancellable();
    State& s = *state;
    State::Queue batch;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        while (!s.stop && !s.priorityPending && s.queue.empty()) {
            s.workerWaiting = true;
            s.work.wait(lock);
        }
        s.workerWaiting = false;
        if (s.stop) break;
        if (s.priorityPending) {
            s.priorityPending = false;
            const int priority = s.priority;
            lock.unlock();
            SetCurrentThreadPriority(priority);  // best effort
            lock.lock();
            continue;
        }
        batch.swap(s.queue);  // the whole queue at once; the old batch's storage is reused
        s.batchSize = batch.size();
        s.claimed.store(0, std::memory_order_relaxed);
        s.cut.store(false, std::memory_order_relaxed);
        s.busy = true;
        void* const owner = s.owner;
        const MessageCallback callback = s.callback;
        const size_t chunk = std::max<size_t>(s.bound / 4, 1);
        lock.unlock();
        DeliverBatch(s, batch, owner, callback, chunk);
        lock.lock();
        if (s.queue.empty() && !s.stop) RunIdleCallback(s, lock);
        s.busy = false;
        if (s.queue.empty()) s.idle.notify_all();
    }
    RunIdleCallback(s, lock);
    s.busy = false;
    s.idle.notify_all();
    t_workerOf = nullptr;
}

int CMessageClient::Offer(const CVESKMessage* messages, size_t count, int sourceA, int sourceB,
                          std::vector<Pending>& pending)
{
    State& s = *m_state;
    const bool own = IsWorkerThread();
    int queued = 0;
    bool waiting = false;  // once one message waits, the rest of the run waits behind it
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!SourceMatches(s.sourceFilter, sourceA, sourceB) || !SourceMatches(s.sourceFilter2, sourceA, sourceB)) return 0;
    for (size_t i = 0; i < count; ++i) {
        const CVESKMessage& m = messages[i];
        if (!m_filters->PassesFilters(m)) continue;
        if (!s.Takes()) {
            ++s.dropped;
        } else if (waiting || (!own && !s.HasRoomFor(m))) {
            waiting = true;
            pending.push_back({m_state, i});
        } else {
            s.Push(m);
            ++queued;
        }
    }
    if (queued) s.WakeWorker();
    return queued;
}

int CMessageClient::QueueWhenRoom(const Pending& pending, const CVESKMessage& message)
{
    State& s = *pending.state;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.Takes() && !s.HasRoomFor(message)) {
        ++s.waits;
        ++s.roomWaiters;
        s.room.wait(lock, [&] { return !s.Takes() || s.HasRoomFor(message); });
        --s.roomWaiters;
    }
    if (!s.Takes()) {
        ++s.dropped;
        return 0;
    }
    s.Push(message);
    s.WakeWorker();
    return 1;
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
    s.room.notify_all();  // dispatches waiting for room give up
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
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stop = true;
        s.active = false;
        s.workerPaused = false;
        s.DropQueued();
    }
    s.work.notify_all();
    s.idle.notify_all();
    s.room.notify_all();
}

bool CMessageClient::IsActive() const
{
    return Read(&State::active);
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
    return static_cast<unsigned long>(s.InFifo());
}

unsigned long CMessageClient::GetNumMessagesInFIFO() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<unsigned long>(m_state->InFifo());
}

void CMessageClient::Terminate(int reason)
{
    State& s = *m_state;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.terminateReason = reason;
    s.DropQueued();
    // The worker tells WaitUntilEmpty once the message in its callback, if any, is done.
    if (!s.busy) s.idle.notify_all();
}

int CMessageClient::GetTerminateReason() const
{
    return Read(&State::terminateReason);
}

size_t CMessageClient::GetQueueBound() const
{
    return Read(&State::bound);
}

void CMessageClient::SetQueueBound(size_t bytes)
{
    State& s = *m_state;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.bound = std::max<size_t>(bytes, 1);
    s.room.notify_all();
}

size_t CMessageClient::GetQueuedBytes() const
{
    return Read(&State::queuedBytes);
}

uint64_t CMessageClient::GetNumDropped() const
{
    return Read(&State::dropped);
}

uint64_t CMessageClient::GetNumWaits() const
{
    return Read(&State::waits);
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

void CMessageClient::SetIdleCallback(IdleCallback callback)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->idleCallback = callback;
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
    return Dispatch(&message, 1, sourceA, sourceB);
}

int CMessageBus::Dispatch(const CVESKMessage* messages, size_t count, int sourceA, int sourceB)
{
    // Kept per thread so that a dispatch allocates nothing once it has warmed up.
    thread_local std::vector<CMessageClient::Pending> pending;
    pending.clear();
    int queued = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (CMessageClient* client : m_clients) queued += client->Offer(messages, count, sourceA, sourceB, pending);
    }
    for (const CMessageClient::Pending& p : pending) queued += CMessageClient::QueueWhenRoom(p, messages[p.index]);
    pending.clear();
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

void CMessageSender::InjectMessages(const CVESKMessage* messages, size_t count)
{
    if (count) Services::Bus()->Dispatch(messages, count, m_nSourceA, m_nSourceB);
}

// ---- Corekit's calls ------------------------------------------------------------------

namespace {
std::atomic<int> g_nSendersMade{0};
}  // namespace

std::atomic<CArchive*> MessageArchiveDetail::note{nullptr};

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

void ReleaseMessageArchive(CArchive* archive)
{
    CArchive* expected = archive;
    MessageArchiveDetail::note.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

CArchive* GetMessageArchive()
{
    return MessageArchiveDetail::note.load(std::memory_order_acquire);
}
