#pragma once
// CLogConvertProgressWnd: the progress window of an asynchronous conversion, dialog
// IDD_CONVERT_PROGRESS (a label and a progress bar, no caption in the template). The
// launch makes it modeless on the host's thread, below the bottom-right corner of the
// host's main window; the worker drives it.
//
// The progress protocol. A worker only posts, from its own thread, and never waits:
//   WM_CONVERT_PROGRESS  WM_USER+25 (0x419)  wParam 0, lParam = byte position reached in
//                                            the source: the bar moves there
//   WM_CONVERT_END       WM_USER+15 (0x40F)  0, 0: the window destroys itself
// The host's thread handles them when it pumps the window (PumpMessage, or its dialog
// host); a post to a window that is gone does nothing, so a late worker is harmless.
#include "framework/Dialog.h"

class CLogConvertProgressWnd : public CDialog {
public:
    static constexpr UINT WM_CONVERT_PROGRESS = WM_USER + 25;
    static constexpr UINT WM_CONVERT_END = WM_USER + 15;

    CLogConvertProgressWnd();

    // The bar's range: the source's length in bytes. Set before the window is made. A
    // length beyond the bar's int range is scaled down, and every position with it.
    void SetProgressSize(ULONGLONG nSize);

    CString m_strText;  // the label and the caption
    int m_nRange = 0;   // the bar's maximum

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Every key-down is swallowed, so Enter and Escape do not close the window.
    BOOL PreTranslateMessage(const WindowMessage& msg) override;

private:
    void PlaceAtMainWindowCorner();

    CDialogControl* m_pBar = nullptr;
    int m_nShift = 0;  // positions are shifted right by this much to fit the range
};
