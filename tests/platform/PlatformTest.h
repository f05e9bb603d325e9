#pragma once
// Helpers shared by the platform tests: the bundled signal database installed with a
// decoder over it, messages made from data blocks, and a message client that records
// what it delivers.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/MessageBus.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "platform/SimDevice.h"
#include "tests/support/TestEnv.h"

constexpr DWORD kGenerous = 60000;  // a time limit that only a hang reaches

inline std::shared_ptr<CSvmDb> BundledDb()
{
    return CSvmDb::LoadFromFile(CString(VKL_SOURCE_DIR) + "/data/signals.json");
}

// A message of device 2 carrying a data block.
inline CVESKMessage FromBlock(const std::vector<BYTE>& block, int kind = 1)
{
    return CVESKMessage(kind, 2, block.data(), static_cast<int>(block.size()), 0);
}

// The host fixture with the bundled database and a decoder over it in the registry.
class SignalsFixture : public HostFixture {
protected:
    SignalsFixture()
    {
        HostServices s = Services::Current();
        s.signalDb = db;
        s.recoder = recoder;
        m_scoped = std::make_unique<CScopedServices>(s);
    }
    // Every column of a message (or the selected ones); the decoder must accept it.
    ColumnValues Decode(const CVESKMessage& m, const ColumnSelection& selection = {})
    {
        ColumnValues values;
        DecodeRequest request;
        request.message = &m;
        EXPECT_TRUE(recoder->DecodeToColumns(request, values, selection));
        return values;
    }

    std::shared_ptr<CSvmDb> db = BundledDb();
    std::shared_ptr<CConverter> recoder = std::make_shared<CConverter>(db);

private:
    std::unique_ptr<CScopedServices> m_scoped;
};

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
