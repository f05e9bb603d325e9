#pragma once
// Shared set-up of the converter tests: logs laid out byte by byte, a Recoder whose
// answers the test chooses, and a dialog host that plays the user.
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "convert/LogFileConverter.h"
#include "framework/Dialog.h"
#include "framework/SeTranslator.h"
#include "tests/support/LogFileBytes.h"
#include "tests/support/TestEnv.h"

// One record: kind, device 0, the time hh:mm:ss.ms of 3 March 2011, the data block, the index.
inline Bytes RecordBytes(uint64_t index, const Bytes& data, int kind = 1, std::array<int, 4> hmsm = {9, 5, 3, 7})
{
    Bytes b;
    Put32(b, static_cast<uint32_t>(kind));
    Put32(b, 0);
    for (int w : {2011, 3, 4, 3, hmsm[0], hmsm[1], hmsm[2], hmsm[3]}) Put16(b, static_cast<uint32_t>(w));
    Put32(b, static_cast<uint32_t>(data.size()));
    Append(b, data);
    Put64(b, index);
    Put32(b, 0);
    return b;
}

// A log file: the header position, the records as given, a header (fresh by default).
inline Bytes LogBytes(const std::vector<Bytes>& records, const Bytes& header = FreshHeader())
{
    Bytes body;
    for (const Bytes& r : records) Append(body, r);
    Bytes b;
    Put32(b, static_cast<uint32_t>(4 + body.size()));
    Append(b, body);
    Append(b, header);
    return b;
}

// Data blocks of a given message type (the first WORD), padded to the 8-byte header.
inline Bytes TypedData(uint16_t type, Bytes payload = {})
{
    Bytes b;
    Put16(b, type);
    b.resize(8, 0);
    Append(b, payload);
    return b;
}

// Decodes every message the same way, as the test says: "Signal" through the local map
// (after "from-callback" through the callback, which the map must win over), "Extra"
// through the callback only, "Decoded" and "Data". At the message of index `failAt` it
// returns false, at `faultAt` it meets a processor fault; at `holdAt` it waits for `gate`.
class FakeRecoder : public CConverter {
public:
    FakeRecoder() : CConverter(nullptr) {}
    bool DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection& selection) override
    {
        const CVESKMessage& m = *request.message;
        ++calls;
        if (m.GetMessageIndex() == faultAt) RaiseProcessorFault(EXCEPTION_ACCESS_VIOLATION);
        if (m.GetMessageIndex() == holdAt) {
            reached.SetEvent();
            gate.Wait();
        }
        auto put = [&](const char* name, const CString& text, bool viaMap) {
            if (!selection.count(name)) return;
            if (viaMap) values[name] = text;
            if (request.callback) request.callback(request.context, name, viaMap ? "from-callback" : text);
        };
        CString data;
        FormatRawData(m.GetData(), m.GetDataLength(), data);
        put("Signal", "a,b", true);
        put("Extra", "cb", false);
        put("Decoded", "x\ny", true);
        put("Data", data, true);
        return m.GetMessageIndex() != failAt;
    }
    uint64_t failAt = 0, faultAt = 0, holdAt = 0;
    std::atomic<int> calls{0};
    CEvent reached{false, true}, gate{false, true};
};

// Plays the user of the modal dialogs and counts what reaches the progress window (then
// calls `onPosted`, on the worker's thread).
class ScriptedDialogs : public IDialogHost {
public:
    std::function<void(CDialog&)> run;
    std::function<void()> onPosted;
    std::atomic<int> posted{0};
    void RunModal(CDialog& dlg) override
    {
        if (run) run(dlg);
    }
    void OnPosted(CDialog&) override
    {
        ++posted;
        if (onPosted) onPosted();
    }
};

// The bytes of a message's data block.
inline Bytes DataOf(const CVESKMessage& m)
{
    return Bytes(m.GetData(), m.GetData() + m.GetDataLength());
}

// The messages of a log file; none when there is no file.
inline std::vector<CVESKMessage> LogRecords(const std::string& path)
{
    std::vector<CVESKMessage> out;
    CLogFile log;
    if (!FileExists(path) || !log.Open(path.c_str(), 0, 0, 1)) return out;
    while (log.GetPosition() < log.GetHeaderPosition()) ReadLogRecord(log, out.emplace_back());
    log.Close();
    return out;
}

// A converter test over `Base` (the host fixture, or one that also installs a database).
template <class Base>
class ConvertFixtureOn : public Base {
protected:
    ConvertFixtureOn() : m_previous(SetDialogHost(dialogs)) {}
    ~ConvertFixtureOn() override { SetDialogHost(m_previous); }

    std::string Log(const std::string& name, const std::vector<Bytes>& records)
    {
        WriteAll(this->Path(name), LogBytes(records));
        return this->Path(name);
    }
    static std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }
    std::string Output(const std::string& name) const { return Text(ReadAll(this->Path(name))); }
    // The texts of the boxes shown since there were `before`.
    std::vector<std::string> BoxesSince(size_t before) const
    {
        const std::vector<std::string> texts = this->boxes.Texts();
        return std::vector<std::string>(texts.begin() + static_cast<long>(before), texts.end());
    }
    // Handles the progress window's messages until the conversion has ended.
    static void RunToEnd(CLogFileConverter& conv)
    {
        // An import signals its end before its outcome boxes: wait for the worker itself.
        while (conv.IsConverting() || !conv.GetState().m_evWorkerEnded.Wait(0)) conv.m_progressWnd.PumpMessage(10);
        while (conv.m_progressWnd.PumpMessage(0)) {
        }
    }

    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    FakeRecoder recoder;

private:
    std::shared_ptr<IDialogHost> m_previous;
};
using ConvertFixture = ConvertFixtureOn<HostFixture>;
