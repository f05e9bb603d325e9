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
    std::vector<BYTE> m_body;  // the last body read, kept for the next packet's bytes
};
