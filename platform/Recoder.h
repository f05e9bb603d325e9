#pragma once
// Recoder: message decoding against the signal database.
//
// Message data blocks begin with an 8-byte message header whose first WORD is the
// message type. Types 5 (logged signal), 6 (signal) and 7 (logged signal, second
// layout) carry a native signal header at offset 8, laid out by the four layout values
// S, I, E, L of the database; type 67 is a command; type 0x0010 (kTraceMessageType) is a
// trace: its body holds WORDs, 0 = format, 2 = group, 3 = identifier, and the low 9 bits
// of word 6 a DSP opcode.
#include <memory>
#include <unordered_map>

#include "framework/String.h"
#include "framework/Types.h"

class CSvmDb;
class CVESKMessage;
struct SignalInfo;

// What DecodeToColumns is asked to do for one message.
struct DecodeRequest {
    const CVESKMessage* message = nullptr;
    void (*callback)(void* context, const CString& name, const CString& text) = nullptr;
    void* context = nullptr;
    CString text1, text2, text3;
    bool flag = true;
};

using ColumnValues = std::unordered_map<CString, CString>;
using ColumnSelection = std::unordered_map<CString, int>;

// The parts of a native signal header.
struct NativeSignal {
    int messageType = 0;
    uint32_t id = 0;
    uint32_t field1 = 0, field2 = 0;
    uint32_t logWord1 = 0, logWord2 = 0;
    int bodyOffset = 0;  // from the start of the data block
    int bodyLength = 0;
};

class CConverter {
public:
    static constexpr int kTraceMessageType = 0x0010;
    static constexpr int kCommandMessageType = 67;

    explicit CConverter(std::shared_ptr<CSvmDb> db);
    virtual ~CConverter() = default;

    virtual bool GetSignalName(uint32_t id, CString& name);
    virtual bool GetAltSignalName(uint32_t id, CString& name);
    virtual int GetSignalIdSize(int reserved);
    virtual int GetHeaderFieldSize(int reserved);
    virtual int GetAlignmentMode(int reserved);
    virtual int GetLayoutShift(int reserved);
    // Highest trace identifier known for a side (0 = Com, 1 = App) through `last`.
    virtual void GetTraceIdRange(int side, int reserved, int& first, int& last);
    // The trace name; `flag` is set when the name was found, which admits the DSP test.
    virtual bool GetComTraceName(int group, int id, CString& name, int& flag);
    virtual bool GetAppTraceName(int group, int id, CString& name, int& flag);
    virtual DWORD GetMessageColor(const CVESKMessage& message);
    virtual void FormatRawData(const BYTE* data, int length, CString& text);
    // Fills the column texts of a message; false when it cannot be decoded.
    virtual bool DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection& selection);

    // Parses the native signal header of a message of type 5, 6 or 7.
    bool ParseSignal(const BYTE* data, int length, NativeSignal& out);
    // The signal's fields as "name=value, ..." from a native body.
    CString DecodeBody(const SignalInfo& signal, const BYTE* body, int length);
    CSvmDb* GetDb() const { return m_db.get(); }

protected:
    std::shared_ptr<CSvmDb> m_db;
};

// The shared converter of the host-services registry.
CConverter* GetConverterInstance();
