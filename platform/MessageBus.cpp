#include "platform/MessageBus.h"
// Placeholder: the message bus is being written; these keep the library linking.
#include "platform/Filters.h"
CMessageClient::CMessageClient(void* owner, int flag, MessageCallback callback) : m_pOwner(owner), m_nFlag(flag), m_callback(callback), m_filters(std::make_unique<CAllFilters>()) {}
CMessageClient::~CMessageClient() = default;
void CMessageClient::Pause() {}
void CMessageClient::Resume() {}
void CMessageClient::Stop() {}
bool CMessageClient::IsActive() const { return false; }
unsigned long CMessageClient::WaitUntilEmpty(DWORD) { return 0; }
unsigned long CMessageClient::GetNumMessagesInFIFO() const { return 0; }
void CMessageClient::Terminate(int) {}
CAllFilters* CMessageClient::GetFilters() { return m_filters.get(); }
void CMessageClient::SetThreadPriority(int) {}
void CMessageClient::SetSourceFilter(int, int) {}
void CMessageClient::SetSourceFilter2(int, int) {}
int CMessageBus::Dispatch(const CVESKMessage&, int, int) { return 0; }
void SetMessageArchive(CArchive*) {}
void ReleaseMessageArchive(CArchive*) {}
