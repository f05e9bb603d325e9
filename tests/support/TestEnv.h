#pragma once
// Test fixtures: a temporary directory per test, fake host services installed through the
// registry, a message-box handler that records every text and gives scripted answers, and
// a message client on the bus that records what it delivers.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/MessageBox.h"
#include "platform/Clock.h"
#include "platform/DeviceLink.h"
#include "platform/DiskSpace.h"
#include "platform/MessageBus.h"
#include "platform/Services.h"
#include "platform/Settings.h"
#include "platform/Trace.h"
#include "tests/support/ScratchDir.h"

// A fresh, empty directory removed again with the object.
using TempDir = ScratchDir;

// Records message boxes; answers from a script, then with the default answer.
class RecordingMessageBoxes {
public:
    RecordingMessageBoxes();
    ~RecordingMessageBoxes() { SetMessageBoxHandler(std::move(m_previous)); }
    void Answer(int answer);  // queue one scripted answer
    std::vector<MessageBoxRequest> Shown() const;
    std::vector<std::string> Texts() const;
    size_t Count() const { return Shown().size(); }

private:
    mutable std::mutex m_mutex;
    std::deque<int> m_answers;
    std::vector<MessageBoxRequest> m_shown;
    MessageBoxHandler m_previous;
};

// Installs, for the life of the fixture: a temporary home directory (with "Bin Logs"),
// an in-memory settings store, a fixed clock (3 March 2011, 14:05:09.000), 100 GB free
// space, a memory trace sink, an empty device table, a fresh message bus, and the
// recording message-box handler.
class HostFixture : public ::testing::Test {
protected:
    HostFixture();
    ~HostFixture() override;

    std::string Path(const std::string& name) const { return tmp / name; }
    std::string LogDir() const { return tmp.path() + "/Bin Logs/"; }

    TempDir tmp;
    std::shared_ptr<CMemorySettingsStore> settings;
    std::shared_ptr<CFixedClock> clock;
    std::shared_ptr<CFixedFreeSpace> freeSpace;
    std::shared_ptr<CMemoryTraceSink> trace;
    std::shared_ptr<CDeviceTable> devices;
    RecordingMessageBoxes boxes;

private:
    std::unique_ptr<CScopedServices> m_services;
};

// Whole-file helpers.
std::vector<uint8_t> ReadAll(const std::string& path);
std::string ReadText(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

// first, first + 1, ..., last.
inline std::vector<uint64_t> Range(uint64_t first, uint64_t last)
{
    std::vector<uint64_t> v;
    for (uint64_t i = first; i <= last; ++i) v.push_back(i);
    return v;
}

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
