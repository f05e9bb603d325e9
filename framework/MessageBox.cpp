#include "framework/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_mutex;
MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler;
    return handler;
}
}  // namespace

int DefaultMessageBoxAnswer(UINT type)
{
    const bool second = (type & MB_DEFBUTTON2) != 0;
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return second ? IDNO : IDYES;
    case MB_OKCANCEL: return second ? IDCANCEL : IDOK;
    default: return IDOK;
    }
}

int StderrMessageBox(const MessageBoxRequest& request)
{
    std::string text = request.text.str();
    for (char& c : text)
        if (c == '\n') c = ' ';
    std::fprintf(stderr, "%s%s%s\n", request.caption.IsEmpty() ? "" : request.caption.c_str(),
                 request.caption.IsEmpty() ? "" : ": ", text.c_str());
    return DefaultMessageBoxAnswer(request.type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

int AfxMessageBox(const char* text, const char* caption, UINT type)
{
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        handler = Handler();
    }
    const MessageBoxRequest request{text ? text : "", caption ? caption : "", type};
    return handler ? handler(request) : StderrMessageBox(request);
}

int AfxMessageBox(const char* text, UINT type)
{
    return AfxMessageBox(text, "", type);
}
