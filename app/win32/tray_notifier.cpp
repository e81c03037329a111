// TrayNotifier: FlashWindowEx with FLASHW_TRAY | FLASHW_TIMERNOFG, Shell_NotifyIconW with NIF_INFO
// (which respects the user's quiet time, and plays no sound of its own: the message sound is asked
// for once per burst, when the user wants one), and the icon with a badge drawn by GDI.
#include "app/win32/tray_notifier.h"

#include "text/wide_text.h"

#include <algorithm>
#include <cstdint>
#include <string>

ShellCalls Shell;

namespace {

// Copies text into a fixed field, cut so that the last character stays whole.
template <size_t N> void CopyInto(wchar_t (&field)[N], const std::string& text) {
    const std::wstring wide = WideFromUtf8(text);
    size_t length = std::min(wide.size(), N - 1);
    if (length > 0 && length < wide.size() && wide[length - 1] >= 0xD800 &&
        wide[length - 1] <= 0xDBFF)
        --length; // a high surrogate without its partner
    std::copy_n(wide.data(), length, field);
    field[length] = L'\0';
}

// icon at the small icon size with the count in a red disc at its lower right ("99+" beyond):
// white on that red stands 6:1. Null when the drawing fails; the caller then shows icon as it is.
HICON Badged(HICON icon, int count) {
    const int size = ::GetSystemMetrics(SM_CXSMICON);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size; // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC dc = ::CreateCompatibleDC(nullptr);
    const HBITMAP colour = ::CreateDIBSection(dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc == nullptr || colour == nullptr) {
        if (dc != nullptr)
            ::DeleteDC(dc);
        return nullptr;
    }
    const HGDIOBJ before = ::SelectObject(dc, colour);
    ::DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    // GDI leaves the alpha of what it draws at zero: the disc's pixels are made opaque after.
    const RECT disc{size * 3 / 8, size * 3 / 8, size, size};
    const HBRUSH red = ::CreateSolidBrush(RGB(0xc0, 0x1c, 0x28));
    const HGDIOBJ oldBrush = ::SelectObject(dc, red);
    const HGDIOBJ oldPen = ::SelectObject(dc, ::GetStockObject(NULL_PEN));
    ::Ellipse(dc, disc.left, disc.top, disc.right + 1, disc.bottom + 1);
    const HFONT font =
        ::CreateFontW(-size / 2, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, 0, L"Segoe UI");
    const HGDIOBJ oldFont = ::SelectObject(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(0xff, 0xff, 0xff));
    std::wstring text = count > 99 ? L"99+" : std::to_wstring(count);
    RECT place = disc;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &place,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(font);
    ::DeleteObject(red);
    ::GdiFlush();
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int y = disc.top; y < disc.bottom; ++y)
        for (int x = disc.left; x < disc.right; ++x) {
            const int dx = 2 * x + 1 - disc.left - disc.right;
            const int dy = 2 * y + 1 - disc.top - disc.bottom;
            const int r = disc.right - disc.left;
            if (dx * dx + dy * dy <= r * r)
                pixels[y * size + x] |= 0xff000000u;
        }
    ::SelectObject(dc, before);
    ::DeleteDC(dc);
    const HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO parts{TRUE, 0, 0, mask, colour};
    const HICON made = ::CreateIconIndirect(&parts);
    ::DeleteObject(mask);
    ::DeleteObject(colour);
    return made;
}

} // namespace

TrayNotifier::TrayNotifier(HWND target, HICON image) : window(target), icon(image) {}

TrayNotifier::~TrayNotifier() {
    hideIcon();
}

NOTIFYICONDATAW TrayNotifier::iconData() const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    return data;
}

bool TrayNotifier::placeIcon() {
    NOTIFYICONDATAW data = iconData();
    data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    data.uCallbackMessage = WM_TRAY_ICON;
    data.hIcon = badged != nullptr ? badged : icon;
    CopyInto(data.szTip, tip);
    if (shown)
        return Shell.notifyIcon(NIM_MODIFY, &data) != FALSE;
    shown = Shell.notifyIcon(NIM_ADD, &data) != FALSE;
    return shown;
}

void TrayNotifier::show(const Notification& notification) {
    FLASHWINFO flash{sizeof flash, window, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    Shell.flashWindowEx(&flash);
    if (notification.sound)
        Shell.playSound(INSTANT_MESSAGE_SOUND, nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT);
    if (!shown && !placeIcon())
        return;
    NOTIFYICONDATAW balloon = iconData();
    balloon.uFlags = NIF_INFO;
    balloon.dwInfoFlags = NIIF_USER | NIIF_RESPECT_QUIET_TIME | NIIF_NOSOUND;
    balloon.hBalloonIcon = icon;
    CopyInto(balloon.szInfoTitle, notification.summary);
    CopyInto(balloon.szInfo, notification.body);
    Shell.notifyIcon(NIM_MODIFY, &balloon);
}

void TrayNotifier::withdraw() {
    // The balloon goes with the icon, which goes once nothing is unread.
}

void TrayNotifier::showIcon(int count, const std::string& toolTip) {
    tip = toolTip;
    if (count != unread || (count > 0 && badged == nullptr)) {
        if (badged != nullptr)
            ::DestroyIcon(badged);
        badged = count > 0 ? Badged(icon, count) : nullptr;
        unread = count;
    }
    placeIcon();
}

void TrayNotifier::hideIcon() {
    if (shown) {
        NOTIFYICONDATAW remove = iconData();
        Shell.notifyIcon(NIM_DELETE, &remove);
        shown = false;
    }
    if (badged != nullptr)
        ::DestroyIcon(badged);
    badged = nullptr;
    unread = 0;
}
