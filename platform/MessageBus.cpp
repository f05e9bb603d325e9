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
void CMessageClient::AttachTo(const std::shared_ptr<CMessageBus>&) {}
bool CMessageClient::Offer(const CVESKMessage&, int, int) { return false; }
CMessageClient* CreateMessageClient(void* owner, int flag, MessageCallback callback, int) { return new CMessageClient(owner, flag, callback); }
int RegisterMessageClient(DWORD, int, CMessageClient*, MessageCallback, void*) { return 1; }
void DestroyMessageClient(CMessageClient** pp) { delete *pp; *pp = nullptr; }
CMessageSender::CMessageSender(CString name, CString description, int a, int b) : m_strName(std::move(name)), m_strDescription(std::move(description)), m_nSourceA(a), m_nSourceB(b) {}
bool CMessageSender::InjectMessage(CVESKMessage* m) { delete m; return true; }
CMessageSender* CreateMessageSender(const char* n, const char* d) { return new CMessageSender(n, d, 0, 0); }
void DestroyMessageSender(CMessageSender** pp) { delete *pp; *pp = nullptr; }
