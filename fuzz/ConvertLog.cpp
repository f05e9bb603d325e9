// Hostile logs through the text writers and the HTML writer. The first byte chooses: bit 0
// CSV (bit 1 with commas kept), bit 2 raw mode, bit 3 the asynchronous text writer (column
// dialog saved with every column), bit 4 the bytes as the whole file rather than as the
// records of a sound one, bit 5 the HTML writer (dialog as for bit 3). No writer may
// crash, hang or change the log; every table written ends with a whole line, and every
// page with its closing tags.
#include <cstdlib>
#include <unistd.h>

#include "convert/LogFileConverter.h"
#include "framework/Dialog.h"
#include "fuzz/FuzzSupport.h"
#include "resources/resource.h"

namespace {

class SaveEverything : public IDialogHost {
public:
    void RunModal(CDialog& dlg) override
    {
        dlg.Click(IDC_COLUMNS_CHECK_ALL);
        dlg.Click(IDOK);
    }
};

// A sound log around the records: the header position, the records, a fresh header
// (the bytes a new log's close writes, as docs/FORMAT.md lays them out).
std::vector<uint8_t> SoundLog(const uint8_t* records, size_t size)
{
    static const uint8_t kHeader[] = {18,  'H', 'e', 'a', 'd', 'e', 'r', ' ', 'V', 'e', 'r', 's',  'i',  'o',  'n',
                                      ' ', '1', '.', '0', 19,  'K', 'O', 'V', 'A', ' ', 'V', 'e',  'r',  '.',  ' ',
                                      '0', '.', '2', '0', '.', '5', '.', '8', '3', 0,   0,   0xFF, 0xFF, 0xFF, 0xFF,
                                      0,   0,   0,   0,   0,   1,   0,   0,   0,   0,   0,   0,    0,    0xDB, 7,
                                      3,   0,   4,   0,   3,   0,   14,  0,   5,   0,   9,   0,    0,    0};
    const uint32_t h = static_cast<uint32_t>(4 + size);
    std::vector<uint8_t> file = {static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h >> 16),
                                 static_cast<uint8_t>(h >> 24)};
    file.insert(file.end(), records, records + size);
    file.insert(file.end(), kHeader, kHeader + sizeof kHeader);
    return file;
}

void CheckWholeLines(const std::string& path, bool page)
{
    const std::vector<uint8_t> out = FuzzReadFile(path);
    if (!out.empty() && (out.size() < 2 || out[out.size() - 2] != '\r' || out.back() != '\n')) std::abort();
    static const std::string kTail = "</table>\r\n</body>\r\n</html>\r\n";
    if (page && !out.empty() && !std::string(out.begin(), out.end()).ends_with(kTail)) std::abort();
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInstallServices();
    SetDialogHost(std::make_shared<SaveEverything>());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t options = data[0];
    const std::vector<uint8_t> file =
        (options & 0x10) ? std::vector<uint8_t>(data + 1, data + size) : SoundLog(data + 1, size - 1);
    const std::string log = FuzzWriteFile(file.data(), file.size());
    const std::string out = FuzzScratchDir() + "/out.txt";
    ::unlink(out.c_str());
    {
        CLogFileConverter conv(nullptr);
        conv.m_bCsv = (options & 1) ? ((options & 2) ? 2 : 1) : 0;
        conv.m_bRawData = (options & 4) ? 1 : 0;
        if (options & 0x28) {
            conv.ConvertLogToHTML(log.c_str(), out.c_str(), /*bText=*/!(options & 0x20));
            while (conv.IsConverting()) conv.m_progressWnd.PumpMessage(10);
        } else {
            CString result;
            conv.ConvertLogToText(
                {"Index", "PC Time Stamp", "Kind", "Message Type", "Signal", "Signal ID", "Decoded", "Data"},
                log.c_str(), out.c_str(), result);
        }
    }
    CheckWholeLines(out, (options & 0x20) != 0);
    if (FuzzReadFile(log) != file) std::abort();
    return 0;
}
