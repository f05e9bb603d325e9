#pragma once
// The host side of Corekit's message traffic.
//
// CMessageBus: the host dispatches a message from a source (two identifiers); every
// registered client whose source filters match and whose content filters pass, and
// which is active, queues its own copy. Each client calls its callback from its own
// worker thread, one message at a time, in queue order.
//
// The queue is bounded in bytes (the messages' objects, data and bookkeeping; "Message
// Queue MB" in "Logger Settings", kDefaultQueueMB when unset). A dispatch that finds a
// client's queue full waits until the worker has made room, so a source faster than the
// callback slows to its pace instead of filling memory; nothing is dropped for want of
// room. A message larger than the bound goes into an empty queue. A dispatch made by the client's own
// worker (inside its callback) never waits. Messages a client drops by design are
// counted (GetNumDropped): those offered while it is paused (or not yet resumed), a
// dispatch that was waiting for room when the client was paused or stopped, and the
// queue dropped by Terminate or Stop.
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
// the sender's own source, as if the device had sent it; InjectMessages dispatches a
// run of messages (copies of them) the same way, in one pass over the bus.
//
// Throughput: the worker takes the whole queue at once and delivers it without the
// lock, giving delivered messages back for reuse (no allocation per message once the
// queue has warmed up); a dispatch wakes the worker only when it sleeps. Between two
// messages the worker makes no atomic read-modify-write (right after a callback's write()
// such an operation stalls): Terminate and Stop cut its batch through a pair of
// asymmetric fences instead.
#include <atomic>
#include <cstddef>
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
// Called on the worker whenever it has delivered every message it had, before it waits
// for more, and once more as it ends (unless the client was destroyed from its own
// callback): an owner that keeps something across a run of messages (a logger its
// lock) lets go of it there. The owner must outlive the worker.
using IdleCallback = void (*)(void* owner);

// The bound of every client's queue: "Message Queue MB" in "Logger Settings", read when
// the client is made; values outside 1 .. kMaxQueueMB are taken as the nearest limit.
constexpr const char* kQueueSettingsSection = "Logger Settings";
constexpr const char* kQueueSettingsKey = "Message Queue MB";
constexpr int kDefaultQueueMB = 8;
constexpr int kMaxQueueMB = 4096;

class CMessageClient {
    struct State;  // shared by the client, its worker thread and dispatches waiting for room

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

    // The bound of the queue in bytes, and the bytes its messages hold now (queued or
    // being delivered).
    size_t GetQueueBound() const;
    void SetQueueBound(size_t bytes);
    size_t GetQueuedBytes() const;
    // Messages dropped by design (see the top of this file), and dispatches that had to
    // wait for room, since the client was made.
    uint64_t GetNumDropped() const;
    uint64_t GetNumWaits() const;

    // A message of a dispatch that waits for room in a client's queue until the bus is
    // no longer held (the bus's business).
    struct Pending {
        std::shared_ptr<State> state;
        size_t index;  // into the dispatched run of messages
    };
    // Called by the bus, which is held: queues copies of the messages for which the
    // client is active and its filters pass, as far as there is room; the rest of them
    // are appended to `pending`. Returns how many it queued.
    int Offer(const CVESKMessage* messages, size_t count, int sourceA, int sourceB, std::vector<Pending>& pending);
    // Called by the bus, no longer held: queues one pending message once there is room;
    // 1 when it was queued, 0 when the client was paused or stopped meanwhile.
    static int QueueWhenRoom(const Pending& pending, const CVESKMessage& message);
    // Attaches to a bus (RegisterMessageClient); leaves the previous one. A null bus
    // only detaches.
    void AttachTo(const std::shared_ptr<CMessageBus>& bus);
    // The idle callback (none at first); it gets the owner given with the callback.
    void SetIdleCallback(IdleCallback callback);
    // Adopts an owner and callback given at registration when none was given before.
    void AdoptCallback(void* owner, MessageCallback callback);

private:
    static void WorkerLoop(std::shared_ptr<State> state);
    // A field of the shared state, read under its lock.
    template <typename T>
    T Read(T State::*field) const;

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
    // Offers a run of messages, in order, to every registered client in one pass;
    // returns how many copies were queued in all.
    int Dispatch(const CVESKMessage* messages, size_t count, int sourceA = 0, int sourceB = 0);
    size_t ClientCount() const;

private:
    // Held while messages are offered, so a client never leaves the bus while it is
    // being offered to (Unregister waits for the Dispatch in progress). A dispatch waits
    // for room only after letting go of it, touching nothing but the client's shared
    // state then.
    mutable std::mutex m_mutex;
    std::vector<CMessageClient*> m_clients;
};

class CMessageSender {
public:
    CMessageSender(CString name, CString description, int sourceA, int sourceB);
    // Takes the message over (deletes it) and dispatches it on the installed bus from
    // this sender's source. False only for a null message.
    bool InjectMessage(CVESKMessage* message);
    // Dispatches copies of a run of messages on the installed bus from this sender's
    // source, in order; the messages stay the caller's.
    void InjectMessages(const CVESKMessage* messages, size_t count);
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
// The note is set twice for every message a logger writes: an atomic, not a lock, and inline.
namespace MessageArchiveDetail {
extern std::atomic<CArchive*> note;
}
inline void SetMessageArchive(CArchive* archive)
{
    MessageArchiveDetail::note.store(archive, std::memory_order_release);
}
void ReleaseMessageArchive(CArchive* archive);
CArchive* GetMessageArchive();
