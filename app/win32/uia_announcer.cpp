// UiaAnnouncer: UiaRaiseNotificationEvent on the dialog's host provider, with the text as a BSTR.
#include "app/win32/uia_announcer.h"

#include "text/wide_text.h"

#include <uiautomationcore.h>

UiaCalls Uia;

namespace {

// Each announcement of the program under one activity, so that a reader may treat them alike.
constexpr const wchar_t* ACTIVITY = L"Parlox.NewLines";

void LookUp() {
    static const bool lookedUp = [] {
        if (Uia.hostProviderFromHwnd != nullptr || Uia.raiseNotificationEvent != nullptr)
            return true; // a test's
        // Loaded once, never released: the functions stay for the program's life.
        const HMODULE core = ::LoadLibraryW(L"UIAutomationCore.dll");
        if (core == nullptr)
            return true;
        Uia.hostProviderFromHwnd = reinterpret_cast<decltype(Uia.hostProviderFromHwnd)>(
            reinterpret_cast<void*>(::GetProcAddress(core, "UiaHostProviderFromHwnd")));
        Uia.raiseNotificationEvent = reinterpret_cast<decltype(Uia.raiseNotificationEvent)>(
            reinterpret_cast<void*>(::GetProcAddress(core, "UiaRaiseNotificationEvent")));
        return true;
    }();
    (void)lookedUp;
}

} // namespace

void UiaAnnouncer::announce(const std::string& text) {
    LookUp();
    if (Uia.hostProviderFromHwnd == nullptr || Uia.raiseNotificationEvent == nullptr)
        return;
    IRawElementProviderSimple* provider = nullptr;
    if (FAILED(Uia.hostProviderFromHwnd(window, &provider)) || provider == nullptr)
        return;
    const std::wstring wide = WideFromUtf8(text);
    BSTR display = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    BSTR activity = ::SysAllocString(ACTIVITY);
    if (display != nullptr && activity != nullptr)
        Uia.raiseNotificationEvent(provider, NOTIFICATION_KIND_ITEM_ADDED,
                                   NOTIFICATION_PROCESSING_ALL, display, activity);
    ::SysFreeString(display);
    ::SysFreeString(activity);
    provider->Release();
}
