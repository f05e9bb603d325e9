#pragma once
// CDiagLogPacketReader: reads one packet of an SD-card log from a loading archive and
// makes it into a message (convert/SdLog.h gives the layout).
#include <cstdint>
#include <vector>

#include "framework/Object.h"
#include "framework/Types.h"
#include "platform/SystemTime.h"

class CVESKMessage;

class CDiagLogPacketReader : public CObject {
public:
    // Loading only. Reads L and P; with P = 0 the body too, which becomes a new kind-1
    // message in m_pMessage (the caller owns it). With P = 1 says so in a message box;
    // with any other P makes no message. Either way the body of such a packet is left
    // unread. A body that the file cuts short raises the archive's end-of-file exception
    // and makes no message.
    void Serialize(CArchive& ar) override;
    // Reads one packet as Serialize does, but appends a protocol-0 body to `bytes` instead
    // of making a message (true then); a body cut short leaves `bytes` as it was.
    bool ReadInto(CArchive& ar, std::vector<BYTE>& bytes);

    DWORD GetDeviceTime() const { return m_dwDeviceTime; }
    bool GetTimeBaseFlag() const { return (m_wFirstWord & 0x8000) != 0; }
    // Copies the time into the PC time stamp of m_pMessage (when there is one).
    void SetMessageTime(const SYSTEMTIME* pTime);
    CVESKMessage* GetMessage() const { return m_pMessage; }

    WORD m_wLength = 0;
    WORD m_wProtocol = 0;
    DWORD m_dwDeviceTime = 0;
    WORD m_wFirstWord = 0;
    CVESKMessage* m_pMessage = nullptr;  // not owned

private:
    // L, P and the body (appended to `bytes`); false when the packet has no body to convert.
    bool ReadPacket(CArchive& ar, std::vector<BYTE>& bytes);

    std::vector<BYTE> m_body;  // the last body read, kept for the next packet's bytes
};
