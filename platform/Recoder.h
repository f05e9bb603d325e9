#pragma once
// Recoder: message decoding against the signal database.
//
// A message's data block begins with an 8-byte message header whose first WORD is the
// message type:
//
//   5      logged signal, first layout  } a native signal header at offset 8, laid out by
//   6      signal                       } the database's layout values S, I, E, L, then
//   7      logged signal, second layout } the signal body in its native layout
//   67     command                        the command identifier in the first WORD of the payload
//   0x0010 trace (kTraceMessageType)      payload WORDs: 0 = format (0 or 4), 2 = group,
//                                         3 = identifier; low 9 bits of WORD 6 = DSP opcode
//
// Traces are named from the database's Com side first, then its App side.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "framework/String.h"
#include "framework/Types.h"

class CSvmDb;
class CSystemTime;
class CVESKMessage;
struct SignalInfo;

// What DecodeToColumns is asked to do for one message.
struct DecodeRequest {
    const CVESKMessage* message = nullptr;
    // Called once per column text that is filled (may be null).
    void (*callback)(void* context, const CString& name, const CString& text) = nullptr;
    void* context = nullptr;
    CString text1, text2, text3;  // the host's extra texts; not used by this decoder
    bool flag = true;
};

// Column name -> text, and the selected columns: name -> position (empty = every column).
using ColumnValues = std::unordered_map<CString, CString>;
using ColumnSelection = std::unordered_map<CString, int>;

// The native layout values as the Recoder reports them, each asked with 0.
struct NativeLayoutValues {
    int S = 2;  // width of each of the two leading header fields
    int I = 4;  // width of the signal identifier
    int E = 2;  // alignment of the body-length field: 2 with alignment mode 1, else 4
    int L = 2;  // layout shift
};

// Where the parts of a native signal header lie, counted from its start (message data
// offset 8). -1 marks a part that the message type does not have.
//
//   type 6  field 1 at 0, field 2 at S; p = 2S aligned to E: body length (16 bits);
//           p + 2 aligned to I: identifier; p + I aligned to 4: body (body-length bytes)
//   type 5  field 1 at 0, field 2 at S; p = 2S (+ 2 when L = 0 and S = 1): logging
//           words at p and p + 4, a 16-bit length at p + 8; p + 10 aligned to I:
//           identifier; p + I aligned to 4: body (to the end of the data)
//   type 7  logging words at 0 and 4, a 32-bit count K at 8; p = 12 + K aligned to 4
//           (L = 2) or 2 (otherwise), then to S: field 1, field 2; aligned to E: a 16-bit
//           length; aligned to I: identifier; aligned to 4: body (to the end of the data)
struct NativeHeaderLayout {
    static constexpr int kCountOffset = 8;  // type 7: the count K of bytes skipped
    int64_t field1 = -1, field2 = -1;
    int64_t logWord1 = -1, logWord2 = -1;
    int64_t length = -1;  // the 16-bit body length (types 5 and 7 carry one that is not used)
    int64_t id = -1;
    int64_t body = -1;
};

// The parts of a native signal header.
struct NativeSignal {
    int messageType = 0;
    uint32_t id = 0;
    uint32_t field1 = 0, field2 = 0;
    uint32_t logWord1 = 0, logWord2 = 0;
    int bodyOffset = 0;  // from the start of the data block; never past its end
    int bodyLength = 0;
};

class CConverter {
public:
    static constexpr int kTraceMessageType = 0x0010;
    static constexpr int kCommandMessageType = 67;
    static constexpr int kSignalMessageType = 6;
    static constexpr int kLoggedSignalMessageType = 5;
    static constexpr int kLoggedSignal2MessageType = 7;

    explicit CConverter(std::shared_ptr<CSvmDb> db);
    virtual ~CConverter() = default;

    virtual bool GetSignalName(uint32_t id, CString& name);
    virtual bool GetAltSignalName(uint32_t id, CString& name);
    // The native layout values S, I, the alignment mode (E = 2 when it is 1, else 4) and L.
    virtual int GetSignalIdSize(int reserved);
    virtual int GetHeaderFieldSize(int reserved);
    virtual int GetAlignmentMode(int reserved);
    virtual int GetLayoutShift(int reserved);
    // Highest trace identifier known for a side (0 = Com, 1 = App) through `last`;
    // `first` is 0. -1 when the side has no traces.
    virtual void GetTraceIdRange(int side, int reserved, int& first, int& last);
    // The trace name; `flag` is 1 when the name was found (which admits the DSP opcode
    // test of the assert check), else 0 and `name` is empty.
    virtual bool GetComTraceName(int group, int id, CString& name, int& flag);
    virtual bool GetAppTraceName(int group, int id, CString& name, int& flag);
    // 0x00BBGGRR, from the database's colours by kind and message type.
    virtual DWORD GetMessageColor(const CVESKMessage& message);
    // "01 02 0A ..." (upper-case hex bytes separated by single spaces).
    virtual void FormatRawData(const BYTE* data, int length, CString& text);
    // Fills the column texts of a message: "PC Time Stamp", "Device", "Kind", "Message Type",
    // "Symbol", "Signal", "Signal ID", "Length", "Decoded", "Data". False for a message that
    // cannot be decoded (no message, negative data length); an unknown signal still decodes,
    // with an empty "Decoded".
    virtual bool DecodeToColumns(const DecodeRequest& request, ColumnValues& values, const ColumnSelection& selection);

    // The columns DecodeToColumns fills, in the order it fills them.
    enum Column : unsigned {
        cTime,
        cDevice,
        cKind,
        cType,
        cLength,
        cData,
        cSymbol,
        cSignal,
        cSignalId,
        cDecoded,
        cColumnCount
    };
    // Where each column's text goes (null for a column that is not wanted).
    using ColumnTexts = std::array<CString*, cColumnCount>;
    static const CString& ColumnName(unsigned column);
    // The columns a selection asks for, bit 1 << column each; an empty selection asks for
    // every one.
    static unsigned WantedColumns(const ColumnSelection& selection);
    // DecodeToColumns's work without its map and callback: the text of every column of
    // `wanted` into *texts[column], which it replaces. Strings kept from one message to
    // the next cost no allocation. False as DecodeToColumns, nothing written then.
    bool DecodeColumnTexts(const CVESKMessage* message, unsigned wanted, const ColumnTexts& texts);

    // S, I, E and L, each asked with 0.
    NativeLayoutValues GetLayoutValues();
    // The header layout of message type 5, 6 or 7 (`count` is type 7's K); false for
    // any other type.
    static bool HeaderLayout(int messageType, const NativeLayoutValues& values, uint32_t count, NativeHeaderLayout& out);
    // Parses the native signal header of a message of type 5, 6 or 7 (the whole data block).
    bool ParseSignal(const BYTE* data, int length, NativeSignal& out);
    // The signal's fields as "name=value, ..." from a native body; stops at the first field
    // the body does not hold.
    CString DecodeBody(const SignalInfo& signal, const BYTE* body, int length);
    CSvmDb* GetDb() const { return m_db.get(); }

protected:
    // The "Signal", "Signal ID" and "Decoded" texts of a kind-1 message, each into its
    // string when one is given; they are empty on the way in.
    void DescribeSignal(const CVESKMessage& m, CString* signal, CString* signalId, CString* decoded);

    std::shared_ptr<CSvmDb> m_db;
};

// Appends the PC time stamp's column text, "%2.2u:%2.2u:%2.2u.%3.3u" of hour, minute,
// second and millisecond.
void AppendPcTimeText(std::string& out, const CSystemTime& time);

// The shared converter of the host-services registry.
CConverter* GetConverterInstance();
