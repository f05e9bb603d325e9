#pragma once
// The GKI export and import (convert/GkiExport.cpp, convert/GkiImport.cpp): their texts,
// the native log's size limit and what the last conversion did, for hosts that report it.
//
// Both stream: each record or message is written as soon as it is made, through one
// storing archive. Where a read error inside the input drops "everything converted so
// far", the output is cut back to its start (a GKI file to 0 bytes, a native log to its
// 4-byte header position word), so the files every path leaves are those that collecting
// first and writing at the end would leave: a GKI export that fails leaves an empty GKI
// file, an import that fails leaves no log (a log without records is deleted by its close).
#include <atomic>
#include <cstdint>
#include <mutex>

#include "framework/Archive.h"
#include "framework/Sync.h"

namespace ConvertTexts {

constexpr const char* kOpenLogForWriting = "Error opening log file for writing.";
constexpr const char* kConversionFailed = "Conversion Failed";
constexpr const char* kGkiErrorsFile = "GKIConversion.err";
// Collected when an import stops before the message that would take the native log past
// the largest size a log file can have.
constexpr const char* kImportSizeLimit =
    "The log file reached its size limit of 4 GB: the rest of the GKI file was not imported.";

}  // namespace ConvertTexts

// What the last GKI export or import did. Written by its worker, read by the host after
// the end.
struct GkiCounts {
    std::atomic<uint64_t> read{0};         // messages (export) or records (import) read
    std::atomic<uint64_t> written{0};      // records (export) or messages (import) written
    std::atomic<uint64_t> otherKind{0};    // export: messages of a kind other than 1
    std::atomic<uint64_t> otherType{0};    // export: kind 1 messages of other types
    std::atomic<uint64_t> notConverted{0}; // export: texts collected; import: bodies left empty
    std::atomic<uint64_t> dropped{0};      // written, then dropped by a read error
    std::atomic<uint64_t> readErrors{0};   // "Error reading log file." shown
    std::atomic<uint64_t> cutShort{0};     // import: a last record cut short, dropped
    std::atomic<bool> sizeLimit{false};    // import: stopped at the size limit

    void Reset();
    // One more: the worker is the only writer of a count, so no locked increment is needed.
    static void Add(std::atomic<uint64_t>& n)
    {
        n.store(n.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
};

// Where the records of an imported log may end at most: 4 GiB - 1 bytes less room for
// the header that its close writes behind them.
constexpr uint64_t kImportHeaderRoom = 64 * 1024;
constexpr uint64_t kImportRecordsLimit = 0xFFFFFFFFull - kImportHeaderRoom;

class CArchive;
class CConverterState;
class CFile;

namespace Gki {

// The buffer of the storing archive each worker writes through: fewer, larger writes.
constexpr int kWriteBufferSize = 64 * 1024;

// The progress step of a GKI worker: a post whenever the position passes the next
// hundredth of the input, at most one per turn.
class ProgressSteps {
public:
    explicit ProgressSteps(uint64_t length) : m_step(length / 100) {}
    // Whether a turn at `position` posts.
    bool Due(uint64_t position) const { return position > m_step * m_next; }
    void Turn(CConverterState& s, uint64_t position)
    {
        if (Due(position)) Post(s, position);
    }

private:
    void Post(CConverterState& s, uint64_t position);

    uint64_t m_step;
    uint64_t m_next = 1;
};

// A worker's hold on m_lock: taken for the read of a record and kept across the records
// that follow (one lock a record would cost more than the conversion of many), let go
// before anything that may wait: a write that reaches the file, a progress post, a
// message box, the end. The worker's stop test stays one a record.
class RecordLock {
public:
    explicit RecordLock(CCriticalSection& lock) : m_lock(lock, std::defer_lock) {}
    void Take()
    {
        if (!m_lock.owns_lock()) m_lock.lock();
    }
    void Release()
    {
        if (m_lock.owns_lock()) m_lock.unlock();
    }
    // Before `bytes` are written through `ar`: let go when they would reach the file.
    void BeforeWrite(const CArchive& ar, uint64_t bytes)
    {
        if (bytes > ar.StoreRoom()) Release();
    }
    // Before the progress step's turn at `position`: let go when it posts.
    void BeforeProgress(const ProgressSteps& progress, uint64_t position)
    {
        if (progress.Due(position)) Release();
    }

private:
    std::unique_lock<CCriticalSection> m_lock;
};

// Drops everything written so far: the archive's buffer is flushed and the file cut back
// to `start`, where writing goes on.
void CutBack(CArchive& ar, CFile& file, uint64_t start);
// Cuts a file back to `start` on a failure path, ignoring errors.
void CutBackQuietly(CFile& file, uint64_t start);

}  // namespace Gki
