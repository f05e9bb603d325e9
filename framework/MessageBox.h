#pragma once
// Every user-facing text goes through AfxMessageBox to the installed handler, which
// shows it and returns the answer.
#include <functional>

#include "framework/String.h"
#include "framework/Types.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

struct MessageBoxRequest {
    CString text;
    CString caption;  // empty: the application's title
    UINT type = MB_OK;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

int AfxMessageBox(const char* text, UINT type = MB_OK);
int AfxMessageBox(const char* text, const char* caption, UINT type);

// Installs a handler and returns the previous one; an empty handler restores the default.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// The answer a box gets when nobody is asked: its default button.
int DefaultMessageBoxAnswer(UINT type);
// The default handler: one line on stderr, the default answer.
int StderrMessageBox(const MessageBoxRequest& request);
