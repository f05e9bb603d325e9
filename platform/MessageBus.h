#pragma once
// The host side of Corekit's message traffic.
//
// CMessageBus: the host dispatches a message from a source (two identifiers); every
// registered client whose source filters match and whose content filters pass, and
// which is active, queues its own copy. Each client calls its callback from its own
// worker thread, one message at a time, in queue order.
//
// Client states: a client starts inactive. Resume makes it active (it takes messages
// from the bus); Pause makes it inactive (it takes no more), while its worker goes on
// delivering what is already queued, so Pause followed by WaitUntilEmpty drains the
// queue. A Pause asked by the client's own worker (a logger rolling over inside its
// callback) does not stop intake: messages that arrive meanwhile wait in the queue and
// are delivered after the callback returns. WaitUntilEmpty called on the worker itself
// returns at once. Stop ends the worker after the message in progress; queued messages
// are then dropped.
//
// Source filters: SetSourceFilter(a, b) and SetSourceFilter2(a, b) each name a source;
// a message must match both; -1 matches any value, so (-1, -1) matches any source.
//
// CMessageSender: InjectMessage takes a message over and dispatches it on the bus from
// the sender's own source, as if the device had sent it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Archive.h"
#include "framework/String.h"
#include "framework/Types.h"
#include "platform/VESKMessage.h"

class CAllFilters;
class CMessageBus;

using MessageCallback = void (*)(void* owner, CVESKMessage* message);

class CMessageClient {
public:
    CMessageClient(void* owner, int flag, MessageCallback callback);
    ~CMessageClient();
    CMessageClient(const CMessageClient&) = delete;
    CMessageClient& operator=(const CMessageClient&) = delete;

    void Pause();
    void Resume();
    void Stop();
    bool IsActive() const;
    // Waits up to `ms` (0xFFFFFFFF = no limit) until the queue is empty and no message
    // is being delivered. Returns the number of messages still queued.
    unsigned long WaitUntilEmpty(DWORD ms);
    unsigned long GetNumMessagesInFIFO() const;
    // Drops the queued messages; the int is the host's reason code (kept, not used).
    void Terminate(int reason);
    CAllFilters* GetFilters();
    void SetThreadPriority(int priority);
    void SetSourceFilter(int a, int b);
    void SetSourceFilter2(int a, int b);

    int GetFlag() const { return m_nFlag; }
    // Called by the bus: queues a copy when the client is active and the filters pass.
    bool Offer(const CVESKMessage& message, int sourceA, int sourceB);
    // Attaches to / detaches from a bus (RegisterMessageClient, destruction).
    void AttachTo(const std::shared_ptr<CMessageBus>& bus);

private:
    void WorkerLoop();
    bool IsWorkerThread() const;

    void* m_pOwner;
    int m_nFlag;
    MessageCallback m_callback;
    std::unique_ptr<CAllFilters> m_filters;
    std::weak_ptr<CMessageBus> m_bus;

    mutable std::mutex m_mutex;
    std::condition_variable m_cvWork;   // worker waits for messages
    std::condition_variable m_cvEmpty;  // WaitUntilEmpty waits for the queue to drain
    std::deque<std::unique_ptr<CVESKMessage>> m_queue;
    bool m_bActive = false;
    bool m_bSelfPaused = false;  // a pause asked by the worker itself
    bool m_bDelivering = false;
    bool m_bStop = false;
    int m_nPriority = 0;
    bool m_bPriorityChanged = false;
    int m_filter1[2] = {-1, -1};
    int m_filter2[2] = {-1, -1};
    int m_nTerminateReason = 0;
    std::thread m_worker;
    std::atomic<std::thread::id> m_workerId{};
};

class CMessageBus : public std::enable_shared_from_this<CMessageBus> {
public:
    void Register(CMessageClient* client);
    void Unregister(CMessageClient* client);
    // Offers the message to every registered client; returns how many queued it.
    int Dispatch(const CVESKMessage& message, int sourceA = 0, int sourceB = 0);
    size_t ClientCount() const;

private:
    mutable std::mutex m_mutex;
    std::vector<CMessageClient*> m_clients;
};

class CMessageSender {
public:
    CMessageSender(CString name, CString description, int sourceA, int sourceB);
    // Takes the message over (deletes it) and dispatches it on the installed bus.
    bool InjectMessage(CVESKMessage* message);
    const CString& GetName() const { return m_strName; }
    int GetSourceA() const { return m_nSourceA; }
    int GetSourceB() const { return m_nSourceB; }

private:
    CString m_strName;
    CString m_strDescription;
    int m_nSourceA;
    int m_nSourceB;
};

// Corekit's calls.
CMessageClient* CreateMessageClient(void* owner, int flag, MessageCallback callback, int reserved);
int RegisterMessageClient(DWORD id, int flag, CMessageClient* client, MessageCallback callback, void* owner);
void DestroyMessageClient(CMessageClient** ppClient);
CMessageSender* CreateMessageSender(const char* name, const char* description);
void DestroyMessageSender(CMessageSender** ppSender);
// Archive notes: which archive a message client writes through (informational).
void SetMessageArchive(CArchive* archive);
void ReleaseMessageArchive(CArchive* archive);
