#pragma once
// The host side of Corekit's message traffic.
//
// CMessageBus: the host dispatches a message from a source (two identifiers); every
// registered client whose source filters match and whose content filters pass, and
// which is active, queues its own copy. Each client calls its callback from its own
// worker thread, one message at a time, in queue order. The queue has no bound: a burst
// dispatched faster than the callback runs waits in memory, nothing is dropped.
//
// Client states: a client starts inactive. Resume makes it active (it takes messages
// from the bus); Pause makes it inactive (it takes no more), while its worker goes on
// delivering what is already queued, so Pause followed by WaitUntilEmpty drains the
// queue. A Pause asked by the client's own worker (a logger rolling over inside its
// callback) does not stop intake: messages that arrive meanwhile wait in the queue and
// are delivered after the callback returns; the worker's Resume ends that pause, unless
// another thread paused the client in between (that Pause wins). WaitUntilEmpty called
// on the worker itself returns at once. Stop ends the worker after the message in
// progress; queued messages are then dropped. Terminate drops the queue and goes on.
//
// Source filters: SetSourceFilter(a, b) and SetSourceFilter2(a, b) each name a source;
// a message must match both; -1 matches any value, so (-1, -1) matches any source.
// Both start as (-1, -1).
//
// Destruction (DestroyMessageClient): the client leaves the bus, its worker is stopped
// and joined (a callback in progress on another thread is waited for). Called from the
// client's own callback it does not join itself: the worker finishes on its own after
// the callback returns, touching only state it shares with nobody but itself.
//
// CMessageSender: InjectMessage takes a message over and dispatches it on the bus from
// the sender's own source, as if the device had sent it.
#include <cstdint>
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
    // is being delivered. Returns the number of messages still queued. On the worker
    // itself it returns at once.
    unsigned long WaitUntilEmpty(DWORD ms);
    unsigned long GetNumMessagesInFIFO() const;
    // Drops the queued messages; the int is the host's reason code (kept, not used).
    void Terminate(int reason);
    // The Sieve filter set; a message must pass it to be queued. Owned by the client.
    CAllFilters* GetFilters();
    // Host priority (-15 idle .. 2 highest) of the worker, applied best effort by the
    // worker itself before it delivers its next message.
    void SetThreadPriority(int priority);
    void SetSourceFilter(int a, int b);
    void SetSourceFilter2(int a, int b);

    int GetFlag() const { return m_nFlag; }
    int GetTerminateReason() const;
    // True on the client's own worker thread (inside its callback).
    bool IsWorkerThread() const;

    // Called by the bus: queues a copy when the client is active and the filters pass.
    bool Offer(const CVESKMessage& message, int sourceA, int sourceB);
    // Attaches to a bus (RegisterMessageClient); leaves the previous one. A null bus
    // only detaches.
    void AttachTo(const std::shared_ptr<CMessageBus>& bus);
    // Adopts an owner and callback given at registration when none was given before.
    void AdoptCallback(void* owner, MessageCallback callback);

private:
    struct State;  // shared by the client and its worker thread
    static void WorkerLoop(std::shared_ptr<State> state);

    const int m_nFlag;
    std::shared_ptr<State> m_state;
    std::unique_ptr<CAllFilters> m_filters;
    std::weak_ptr<CMessageBus> m_bus;
    std::mutex m_busMutex;  // guards m_bus
    std::thread m_worker;
};

class CMessageBus : public std::enable_shared_from_this<CMessageBus> {
public:
    void Register(CMessageClient* client);
    void Unregister(CMessageClient* client);
    // Offers the message to every registered client; returns how many queued it.
    int Dispatch(const CVESKMessage& message, int sourceA = 0, int sourceB = 0);
    size_t ClientCount() const;

private:
    // Held while a message is offered, so a client never leaves the bus while it is
    // being offered to (Unregister waits for the Dispatch in progress).
    mutable std::mutex m_mutex;
    std::vector<CMessageClient*> m_clients;
};

class CMessageSender {
public:
    CMessageSender(CString name, CString description, int sourceA, int sourceB);
    // Takes the message over (deletes it) and dispatches it on the installed bus from
    // this sender's source. False only for a null message.
    bool InjectMessage(CVESKMessage* message);
    const CString& GetName() const { return m_strName; }
    const CString& GetDescription() const { return m_strDescription; }
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
// Attaches the client to the installed bus (Services::Bus()); 1 on success, 0 for null.
int RegisterMessageClient(DWORD id, int flag, CMessageClient* client, MessageCallback callback, void* owner);
// Leaves the bus, stops and joins the worker, deletes the client, nulls the pointer.
void DestroyMessageClient(CMessageClient** ppClient);
// Each sender is a source of its own: (kSenderSourceA + n, 0) for the n-th sender made.
constexpr int kSenderSourceA = 1000;
CMessageSender* CreateMessageSender(const char* name, const char* description);
void DestroyMessageSender(CMessageSender** ppSender);
// Archive notes: which archive a message client writes through (informational).
// ReleaseMessageArchive clears the note only when it names that archive.
void SetMessageArchive(CArchive* archive);
void ReleaseMessageArchive(CArchive* archive);
CArchive* GetMessageArchive();
