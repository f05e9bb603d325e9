#pragma once
// Shared set-up of the converter tests: logs laid out byte by byte, a Recoder whose
// answers the test chooses, a dialog host that plays the user; for the GKI tests a small
// signal database installed with a Recoder over it, conversions as byte vectors, records
// stored into and read back from files.
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/ConvertTexts.h"
#include "convert/EnumSizeConverter.h"
#include "convert/GKIRec.h"
#include "convert/GKISignalRecReader.h"
#include "convert/LogFileConverter.h"
#include "framework/Archive.h"
#include "framework/Dialog.h"
#include "framework/File.h"
#include "framework/SeTranslator.h"
#include "platform/Recoder.h"
#include "platform/SignalDb.h"
#include "resources/resource.h"
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
// A record with no data bytes whose data length (at offset 24) claims `length` bytes, by
// default more than any record holds.
inline Bytes ClaimingRecord(uint64_t index, uint32_t length = 0x7F000000)
{
    Bytes b = RecordBytes(index, {});
    for (int i = 0; i < 4; ++i) b[24 + i] = static_cast<uint8_t>(length >> (8 * i));
    return b;
}
// `count` records numbered from `first`, all with the same data.
inline std::vector<Bytes> Messages(uint64_t first, uint64_t count, const Bytes& data = {0xAA})
{
    std::vector<Bytes> records;
    for (uint64_t i = first; i < first + count; ++i) records.push_back(RecordBytes(i, data));
    return records;
}

// A log file: the header position, the records as given, a header (fresh by default).
inline Bytes LogBytes(const std::vector<Bytes>& records, const Bytes& header = FreshHeader())
{
    Bytes body, b;
    for (const Bytes& r : records) Append(body, r);
    Put32(b, static_cast<uint32_t>(4 + body.size()));
    return Cat({b, body, header});
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
// returns false, at `faultAt` it meets a processor fault.
class FakeRecoder : public CConverter {
public:
    FakeRecoder() : CConverter(nullptr) {}
    bool DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection& selection) override
    {
        const CVESKMessage& m = *request.message;
        if (m.GetMessageIndex() == faultAt) RaiseProcessorFault(EXCEPTION_ACCESS_VIOLATION);
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
    uint64_t failAt = 0, faultAt = 0;
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

using Texts = std::vector<std::string>;

// One way a worker ends: the records, the messages at which the Recoder fails and faults,
// the boxes shown and the output written.
struct WorkerEnd {
    const char* what;
    std::vector<Bytes> records;
    uint64_t failAt, faultAt;
    Texts texts;
    std::string output;
};

// A converter test over `Base` (the host fixture, or one that also installs a database).
template <class Base>
class ConvertFixtureOn : public Base {
protected:
    ConvertFixtureOn() : m_previous(SetDialogHost(dialogs)) {}
    ~ConvertFixtureOn() override { SetDialogHost(m_previous); }

    std::string File(const std::string& name, const Bytes& bytes)
    {
        WriteAll(this->Path(name), bytes);
        return this->Path(name);
    }
    std::string Log(const std::string& name, const std::vector<Bytes>& records)
    {
        return File(name, LogBytes(records));
    }
    static std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }
    std::string Output(const std::string& name) const { return Text(ReadAll(this->Path(name))); }
    // The user of the column dialog marks these items (in the viewer's order), types the range and saves.
    void SaveColumns(std::vector<int> marks, CString from = "0", CString to = "0")
    {
        dialogs->run = [=](CDialog& dlg) {
            dlg.Click(IDC_COLUMNS_UNCHECK_ALL);
            for (int i : marks) dlg.ToggleItemCheck(IDC_COLUMNS_TREE, i);
            dlg.GetDlgItem(IDC_COLUMNS_FROM_INDEX)->SetWindowText(from);
            dlg.GetDlgItem(IDC_COLUMNS_TO_INDEX)->SetWindowText(to);
            dlg.Click(IDOK);
        };
    }
    // The texts of the boxes shown since there were `before`.
    Texts BoxesSince(size_t before) const
    {
        const Texts texts = this->boxes.Texts();
        return Texts(texts.begin() + static_cast<long>(before), texts.end());
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

// Layout S 2, I 4, alignment mode 1 (E 2), L 2.
inline const char* kGkiTestSignals = R"({
  "layout": {"header_field_size": 2, "signal_id_size": 4, "alignment_mode": 1, "layout_shift": 2},
  "enums": [
    {"name": "E1", "size": 1, "values": {"A": 68}},
    {"name": "E2", "size": 2, "values": {"B": 4660}}
  ],
  "signals": [
    {"id": 4096, "name": "STRUCT_IND", "fields": [
      {"name": "a", "type": "char"}, {"name": "b", "type": "short"},
      {"name": "e", "enum": "E1"}, {"name": "c", "type": "int"}]},
    {"id": 4097, "name": "ENUM16_IND", "fields": [{"name": "v", "enum": "E2"}]},
    {"id": 4098, "name": "SHORTS_IND", "fields": [{"name": "s", "array": {"type": "short", "count": 10}}]},
    {"id": 4099, "name": "NESTED_IND", "alt_name": "NESTED_ALT", "fields": [
      {"name": "a", "type": "char"},
      {"name": "inner", "struct": {"alignment": 1, "fields": [{"name": "b", "type": "char"}]}}]},
    {"id": 4100, "name": "UNION_IND", "fields": [
      {"name": "a", "type": "int"},
      {"name": "u", "union": {"size": 4, "members": [{"name": "x", "type": "int"}]}}]},
    {"id": 4101, "name": "THREE_IND", "fields": [{"name": "t", "array": {"type": "char", "count": 3}}]},
    {"id": 42, "name": "ARGS_IND", "fields": [{"name": "args", "array": {"type": "char", "count": 8}}]}
  ]
})";

// Knows NESTED_IND only by its alternative name, and names 0x2000 "GHOST", which the
// database does not hold.
class CPartialRecoder : public CConverter {
public:
    using CConverter::CConverter;
    bool GetSignalName(uint32_t id, CString& name) override
    {
        if (id == kGhostId) name = "GHOST";
        return id == kGhostId || (id != kAltOnlyId && CConverter::GetSignalName(id, name));
    }
    static constexpr uint32_t kAltOnlyId = 4099, kGhostId = 0x2000;
};

class GkiFixture : public HostFixture {
protected:
    GkiFixture() { Install(std::make_shared<CConverter>(db)); }

    // Puts `recoder` into the registry as the host's shared Recoder, with the database.
    void Install(std::shared_ptr<CConverter> recoder)
    {
        m_scoped.reset();
        HostServices s = Services::Current();
        s.signalDb = db;
        s.recoder = std::move(recoder);
        m_scoped = std::make_unique<CScopedServices>(s);
    }
    void SetLayout(int S, int I, int mode, int L)
    {
        db->m_nHeaderFieldSize = S, db->m_nSignalIdSize = I, db->m_nAlignmentMode = mode, db->m_nLayoutShift = L;
    }

    // A conversion either way: the bytes, or the error text (the outputs left as they were).
    struct Converted {
        Bytes bytes;
        CString error;
    };
    Converted Convert(bool toGKI, uint32_t id, const Bytes& in)
    {
        std::unique_ptr<unsigned char[]> out;
        unsigned int length = 12345;
        const int n = static_cast<int>(in.size());
        if (toGKI ? converter.ConvertToGKI(id, in.data(), n, out, length, 0)
                  : converter.ConvertFromGKI(id, in.data(), n, out, length, 0))
            return {Bytes(out.get(), out.get() + length), ""};
        EXPECT_TRUE(out == nullptr && length == 12345u);
        return {{}, converter.m_strError};
    }
    Converted ToGKI(uint32_t id, const Bytes& in) { return Convert(/*toGKI=*/true, id, in); }
    Converted FromGKI(uint32_t id, const Bytes& in) { return Convert(/*toGKI=*/false, id, in); }

    // The bytes that storing records write.
    Bytes Stored(const std::vector<CGKIRec*>& records)
    {
        const std::string path = Path("out.gki");
        {
            CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
            CArchive ar(&file, CArchive::store);
            for (CGKIRec* r : records) r->Serialize(ar);
            ar.Close();
        }
        return ReadAll(path);
    }
    // Reads a GKI file with one fresh archive per record, as an import does.
    std::vector<std::unique_ptr<CVESKMessage>> ReadBack(const Bytes& gki, CGKISignalRecReader& reader)
    {
        const std::string path = Path("in.gki");
        WriteAll(path, gki);
        CFile file(path.c_str(), CFile::modeRead);
        std::vector<std::unique_ptr<CVESKMessage>> out;
        while (file.GetPosition() < file.GetLength()) {
            CArchive ar(&file, CArchive::load);
            reader.Serialize(ar);
            ar.Close();
            out.push_back(reader.GetMessage());
        }
        return out;
    }

    std::shared_ptr<CSvmDb> db = CSvmDb::LoadFromText(kGkiTestSignals, "GKI test signals");
    CEnumSizeConverter converter;

private:
    std::unique_ptr<CScopedServices> m_scoped;
};

// Little-endian bytes of a value, for writing expected bytes by hand.
inline Bytes LE(uint64_t v, int width)
{
    Bytes b;
    for (int i = 0; i < width; ++i) b.push_back(static_cast<BYTE>(i < 8 ? v >> (8 * i) : 0));
    return b;
}
