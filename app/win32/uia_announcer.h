// UiaAnnouncer: announcements for screen readers on Windows, as UI Automation notifications
// raised on the dialog (Windows 10 version 1709 and later; nothing on older systems).
#pragma once

#include "features/announcer.h"

#include <windows.h>

#include <oleauto.h>

struct IRawElementProviderSimple;

// The two UI Automation functions, looked up in UIAutomationCore.dll at run time: null where the
// system lacks them. Tests put recorders here.
struct UiaCalls {
    HRESULT(WINAPI* hostProviderFromHwnd)(HWND, IRawElementProviderSimple**) = nullptr;
    // provider, notification kind, processing, display text, activity id
    HRESULT(WINAPI* raiseNotificationEvent)
    (IRawElementProviderSimple*, int, int, BSTR, BSTR) = nullptr;
};
// The system's, looked up at the first announcement unless a test set them before.
extern UiaCalls Uia;

// UI Automation's numbers: a line was added; announce it after what the reader is saying now.
inline constexpr int NOTIFICATION_KIND_ITEM_ADDED = 0;
inline constexpr int NOTIFICATION_PROCESSING_ALL = 2;

class UiaAnnouncer : public Announcer {
public:
    explicit UiaAnnouncer(HWND dialog) : window(dialog) {}

    void announce(const std::string& text) override;

private:
    HWND window;
};
