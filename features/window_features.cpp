// WindowFeatures: the settings, the notification policy and the transcript writer, tied to the
// window's commands and to ChatView.
#include "features/window_features.h"

#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "features/local_time.h"
#include "features/notification_text.h"
#include "features/transcript_format.h"
#include "text/utf8_path.h"
#include "wire/formatting.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <utility>

namespace {

std::string OwnName(const std::string& field) {
    return std::string(CutToCharBoundary(field, FIELD_LIMIT));
}

} // namespace

WindowFeatures::WindowFeatures(Notifier& notifier, Announcer& announcer,
                               NotificationArea& notificationArea, SettingsStore& settingsStore,
                               std::filesystem::path folder)
    : store(settingsStore), transcriptFolder(std::move(folder)), current(LoadSettings(store)),
      policy(notifier), announcements(announcer), area(notificationArea) {
    policy.setMode(current.notify);
    policy.setSound(current.sound);
    policy.setOwnName(OwnName(current.name));
    announcements.setEnabled(current.announce);
    announcements.setOwnName(OwnName(current.name));
    if (current.keepTranscripts)
        startTranscripts();
}

WindowFeatures::~WindowFeatures() {
    stopTranscripts();
}

void WindowFeatures::remember(const FieldTexts& fields) {
    current.name = fields.name;
    current.address = fields.address;
    current.port = fields.port;
    SaveSettings(store, current);
}

void WindowFeatures::roomStarting(bool hosting, const FieldTexts& fields) {
    remember(fields);
    policy.setOwnName(OwnName(fields.name));
    announcements.setOwnName(OwnName(fields.name));
    room = RoomOf(hosting, fields);
    if (writer)
        writer->startRoom(*room, std::chrono::system_clock::now());
}

void WindowFeatures::closing(const FieldTexts& fields) {
    remember(fields);
    stopTranscripts();
}

void WindowFeatures::setNotifyMode(NotifyMode mode) {
    current.notify = mode;
    policy.setMode(mode);
    SaveSettings(store, current);
}

void WindowFeatures::setShowTimes(bool show) {
    current.showTimes = show;
    SaveSettings(store, current);
}

void WindowFeatures::setAnnounce(bool announce) {
    current.announce = announce;
    announcements.setEnabled(announce);
    SaveSettings(store, current);
}

void WindowFeatures::setSound(bool sound) {
    current.sound = sound;
    policy.setSound(sound);
    SaveSettings(store, current);
}

void WindowFeatures::setKeepInNotificationArea(bool keep) {
    current.keepInNotificationArea = keep;
    SaveSettings(store, current);
}

void WindowFeatures::setTheme(ThemeChoice theme) {
    current.theme = theme;
    SaveSettings(store, current);
}

void WindowFeatures::setKeepTranscripts(bool keep) {
    current.keepTranscripts = keep;
    SaveSettings(store, current);
    if (keep && !writer)
        startTranscripts();
    else if (!keep)
        stopTranscripts();
}

void WindowFeatures::startTranscripts() {
    // The writer's failure becomes one line in the log; the writer then takes no more lines, so
    // that line is not written anywhere.
    writer = std::make_shared<TranscriptWriter>(transcriptFolder, [](const std::string& reason) {
        AppendLog("<<Error: %s>>", reason.c_str());
    });
    if (room)
        writer->startRoom(*room, std::chrono::system_clock::now());
    ChatView.setLineListener(
        [kept = writer](const std::string& line, const ChatViewModel::LineInfo& info) {
            kept->append(line, info.arrived);
        });
}

void WindowFeatures::stopTranscripts() {
    if (!writer)
        return;
    ChatView.setLineListener({});
    writer->stop();
    writer.reset();
}

void WindowFeatures::linesArrived(const ChatViewModel::LogUpdate& update, bool windowActive) {
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = 0; i < update.added.size() && i < update.addedInfo.size(); ++i)
        policy.lineArrived(update.added[i], update.addedInfo[i], windowActive, now);
    announcements.linesArrived(update, windowActive, now);
    showIcon();
}

void WindowFeatures::windowActivated() {
    policy.windowActivated();
    showIcon();
}

void WindowFeatures::windowDeactivated() {
    announcements.dropWaiting();
}

void WindowFeatures::windowHidden(bool isHidden) {
    hidden = isHidden;
    showIcon();
}

void WindowFeatures::keyTyped() {
    announcements.keyTyped(std::chrono::steady_clock::now());
}

std::optional<std::chrono::steady_clock::time_point> WindowFeatures::nextTick() const {
    const auto notification = policy.nextDue();
    const auto announcement = announcements.nextDue();
    if (notification && announcement)
        return std::min(*notification, *announcement);
    return notification ? notification : announcement;
}

void WindowFeatures::tick() {
    const auto now = std::chrono::steady_clock::now();
    policy.tick(now);
    announcements.tick(now);
}

void WindowFeatures::showIcon() {
    const int unread = policy.unreadLines();
    if (!hidden && unread == 0) {
        if (iconShown)
            area.hideIcon();
        iconShown.reset();
        return;
    }
    if (iconShown != unread)
        area.showIcon(unread, UnreadToolTip(unread));
    iconShown = unread;
}

std::string WindowFeatures::shownLine(const std::string& line,
                                      const ChatViewModel::LineInfo& info) const {
    return current.showTimes ? TimePrefix(info.arrived) + line : line;
}

bool WindowFeatures::shownBold(const std::string& line, const ChatViewModel::LineInfo& info) const {
    return policy.mentionsMe(line, info);
}

bool WindowFeatures::saveLog(const std::string& path) {
    ChatViewModel::LogCursor everything;
    const ChatViewModel::LogUpdate log = ChatView.logSince(everything);
    std::string text =
        TranscriptHeader(room ? &*room : nullptr, "saved", std::chrono::system_clock::now());
    for (size_t i = 0; i < log.added.size(); ++i)
        text += TranscriptLine(log.added[i], log.addedInfo[i].arrived);

    errno = 0;
    std::ofstream file(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (file)
        file << text;
    if (file)
        file.close();
    if (!file) {
        const std::string reason = errno != 0
                                       ? std::error_code(errno, std::generic_category()).message()
                                       : std::string("the write failed");
        AppendLog("<<Error: Save log: cannot write %s: %s>>", path.c_str(), reason.c_str());
        return false;
    }
    return true;
}
