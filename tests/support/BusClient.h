#pragma once
// A message client on the bus that records what it delivers, for tests of everything that
// sends through the bus.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/MessageBus.h"

constexpr DWORD kGenerous = 60000;  // a time limit that only a hang reaches

// Records what a client delivers; `before` runs first inside the callback.
struct Collector {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<uint64_t> indexes;
    std::vector<std::thread::id> threads;
    std::set<int> devices;
    std::function<void(CVESKMessage*)> before;

    static void Callback(void* owner, CVESKMessage* m)
    {
        auto* self = static_cast<Collector*>(owner);
        if (self->before) self->before(m);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->threads.push_back(std::this_thread::get_id());
        self->indexes.push_back(m->GetMessageIndex());
        self->devices.insert(m->GetDeviceNumber());
        self->cv.notify_all();
    }
    bool WaitFor(size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(kGenerous), [&] { return indexes.size() >= n; });
    }
    std::vector<uint64_t> Indexes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return indexes;
    }
};

// Destroys the client when the test's locals go: declared after them, its worker is
// joined before the collector and events it calls back into disappear.
struct ClientDeleter {
    void operator()(CMessageClient* client) const { DestroyMessageClient(&client); }
};
using ClientPtr = std::unique_ptr<CMessageClient, ClientDeleter>;

inline ClientPtr MakeClient(void* owner, MessageCallback callback)
{
    CMessageClient* client = CreateMessageClient(owner, 0, callback, 0);
    EXPECT_EQ(RegisterMessageClient(0x0201001C, 0, client, callback, owner), 1);
    return ClientPtr(client);
}
inline ClientPtr MakeClient(Collector& c) { return MakeClient(&c, &Collector::Callback); }
