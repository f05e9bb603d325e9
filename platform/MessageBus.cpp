#include "platform/MessageBus.h"

#include <algorithm>
#include <chrono>

#include "framework/Sync.h"
#include "platform/Filters.h"
#include "platform/Services.h"

// ---- client ---------------------------------------------------------------------------

CMessageClient::CMessageClient(void* owner, int flag, MessageCallback callback)
    : m_pOwner(owner), m_nFlag(flag), m_callback(callback), m_filters(std::make_unique<CAllFilters>())
{
    m_worker = std::thread([this] { WorkerLoop(); });
    m_workerId = m_worker.get_id();
}

CMessageClient::~CMessageClient()
{
    if (auto bus = m_bus.lock()) bus->Unregister(this);
    Stop();
    if (m_worker.joinable()) {
        if (IsWorkerThread())
            m_worker.detach();  // destroyed from its own callback: the loop ends on its own
        else
            m_worker.join();
    }
}

bool CMessageClient::IsWorkerThread() const
{
    return std::this_thread::get_id() == m_workerId.load();
}

void CMessageClient::AttachTo(const std::shared_ptr<CMessageBus>& bus)
{
    if (auto old = m_bus.lock()) old->Unregister(this);
    m_bus = bus;
    if (bus) bus->Register(this);
}

void CMessageClient::WorkerLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [this] { return m_bStop || !m_queue.empty() || m_bPriorityChanged; });
        if (m_bStop) break;
        if (m_bPriorityChanged) {
            m_bPriorityChanged = false;
            const int priority = m_nPriority;
            lock.unlock();
            SetCurrentThreadPriority(priority);
            lock.lock();
            continue;
        }
        std::unique_ptr<CVESKMessage> message = std::move(m_queue.front());
        m_queue.pop_front();
        m_bDelivering = true;
        lock.unlock();
        if (m_callback) m_callback(m_pOwner, message.get());
        message.reset();
        lock.lock();
        m_bDelivering = false;
        if (m_queue.empty()) m_cvEmpty.notify_all();
    }
    m_bDelivering = false;
    m_cvEmpty.notify_all();
}

bool CMessageClient::Offer(const CVESKMessage& message, int sourceA, int sourceB)
{
    auto match = [](const int filter[2], int a, int b) {
        return (filter[0] == -1 || filter[0] == a) && (filter[1] == -1 || filter[1] == b);
    };
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop || !(m_bActive || m_bSelfPaused)) return false;
        if (!match(m_filter1, sourceA, sourceB) || !match(m_filter2, sourceA, sourceB)) return false;
    }
    if (!m_filters->PassesFilters(message)) return false;
    auto copy = std::make_unique<CVESKMessage>(message);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop) return false;
        m_queue.push_back(std::move(copy));
    }
    m_cvWork.notify_one();
    return true;
}

void CMessageClient::Pause()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (IsWorkerThread() && m_bActive) {
        // Asked from inside the callback (a roll-over): intake goes on into the queue.
        m_bSelfPaused = true;
    }
    m_bActive = false;
}

void CMessageClient::Resume()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (IsWorkerThread() && !m_bSelfPaused) return;  // the host paused it meanwhile
    m_bSelfPaused = false;
    m_bActive = true;
}

void CMessageClient::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
        m_bActive = false;
        m_bSelfPaused = false;
        m_queue.clear();
    }
    m_cvWork.notify_all();
    m_cvEmpty.notify_all();
}

bool CMessageClient::IsActive() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bActive || m_bSelfPaused;
}

unsigned long CMessageClient::WaitUntilEmpty(DWORD ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // The worker itself cannot wait for itself to deliver.
    if (IsWorkerThread()) return static_cast<unsigned long>(m_queue.size());
    auto empty = [this] { return m_bStop || (m_queue.empty() && !m_bDelivering); };
    if (ms == INFINITE)
        m_cvEmpty.wait(lock, empty);
    else
        m_cvEmpty.wait_for(lock, std::chrono::milliseconds(ms), empty);
    return static_cast<unsigned long>(m_queue.size());
}

unsigned long CMessageClient::GetNumMessagesInFIFO() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<unsigned long>(m_queue.size());
}

void CMessageClient::Terminate(int reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nTerminateReason = reason;
        m_queue.clear();
    }
    m_cvEmpty.notify_all();
}

CAllFilters* CMessageClient::GetFilters()
{
    return m_filters.get();
}

void CMessageClient::SetThreadPriority(int priority)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nPriority = priority;
        m_bPriorityChanged = true;
    }
    m_cvWork.notify_one();
}

void CMessageClient::SetSourceFilter(int a, int b)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_filter1[0] = a;
    m_filter1[1] = b;
}

void CMessageClient::SetSourceFilter2(int a, int b)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_filter2[0] = a;
    m_filter2[1] = b;
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
    // Clients unregister under the same lock, so none is destroyed while offered to.
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
    std::unique_ptr<CVESKMessage> owned(message);
    if (!owned) return false;
    Services::Bus()->Dispatch(*owned, m_nSourceA, m_nSourceB);
    return true;
}

// ---- Corekit's calls ------------------------------------------------------------------

namespace {
std::mutex g_archiveMutex;
CArchive* g_currentArchive = nullptr;
std::atomic<int> g_nextSenderSource{1000};
}  // namespace

CMessageClient* CreateMessageClient(void* owner, int flag, MessageCallback callback, int /*reserved*/)
{
    return new CMessageClient(owner, flag, callback);
}

int RegisterMessageClient(DWORD /*id*/, int /*flag*/, CMessageClient* client, MessageCallback /*callback*/, void* /*owner*/)
{
    if (!client) return 0;
    client->AttachTo(Services::Bus());
    return 1;
}

void DestroyMessageClient(CMessageClient** ppClient)
{
    if (!ppClient || !*ppClient) return;
    delete *ppClient;
    *ppClient = nullptr;
}

CMessageSender* CreateMessageSender(const char* name, const char* description)
{
    // Each sender is a source of its own.
    return new CMessageSender(name ? name : "", description ? description : "", g_nextSenderSource++, 0);
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
    g_currentArchive = archive;
}

void ReleaseMessageArchive(CArchive* archive)
{
    std::lock_guard<std::mutex> lock(g_archiveMutex);
    if (g_currentArchive == archive) g_currentArchive = nullptr;
}
