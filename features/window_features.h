// WindowFeatures: what the window adds around the chat, the same for every front-end: the
// remembered fields and menu choices, notifications, announcements for screen readers, the
// notification area's icon, times in the log, "Save log..." and kept transcripts. The front-end
// gives it a Notifier, an Announcer, a NotificationArea and a SettingsStore, calls it from its
// window's thread and shows what it says.
#pragma once

#include "commands/field_texts.h"
#include "features/announcement_policy.h"
#include "features/current_room.h"
#include "features/notification_area.h"
#include "features/notification_policy.h"
#include "features/settings.h"
#include "features/transcript_writer.h"
#include "model/chat_view_model.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

class WindowFeatures {
public:
    // Reads the settings from store. Transcripts go into transcriptFolder.
    WindowFeatures(Notifier& notifier, Announcer& announcer, NotificationArea& area,
                   SettingsStore& store, std::filesystem::path transcriptFolder);
    // Flushes and ends the transcript, if one is kept, and lets go of ChatView's line listener.
    ~WindowFeatures();

    // The settings as read at the start and changed since: the fields to show on a first start.
    const Settings& settings() const { return current; }

    // Connect or Host was pressed with these fields (hosting: Host), before the command runs: the
    // fields are remembered, and a kept transcript turns to the new room.
    void roomStarting(bool hosting, const FieldTexts& fields);
    // The window closes: the fields are remembered and a kept transcript is flushed and closed.
    void closing(const FieldTexts& fields);

    // The menus' choices; each is remembered at once.
    void setNotifyMode(NotifyMode mode);
    void setShowTimes(bool show);
    void setKeepTranscripts(bool keep);
    void setAnnounce(bool announce);
    void setSound(bool sound);
    void setKeepInNotificationArea(bool keep);
    void setTheme(ThemeChoice theme);

    // The lines a refresh of the view brings (never a re-render of what was shown).
    void linesArrived(const ChatViewModel::LogUpdate& update, bool windowActive);
    void windowActivated();
    void windowDeactivated();
    // The window was hidden in the notification area (closed while it keeps running there), or
    // shown again: while hidden, the icon stays.
    void windowHidden(bool hidden);
    // A key changed the input line: announcements wait until the user pauses.
    void keyTyped();
    // When tick() is due next, if it is; the front-end runs a timer for it.
    std::optional<std::chrono::steady_clock::time_point> nextTick() const;
    void tick();

    // A log line as the log shows it: with "[HH:MM] " before it when times are shown.
    std::string shownLine(const std::string& line, const ChatViewModel::LineInfo& info) const;
    // Whether the log shows the line bold: a line from someone else that mentions the own name.
    bool shownBold(const std::string& line, const ChatViewModel::LineInfo& info) const;

    // "Save log...": the whole log, after a header naming the room, each line with its date and
    // time, UTF-8, to path (UTF-8). A failure shows as an "<<Error: ...>>" line in the log.
    bool saveLog(const std::string& path);

private:
    void remember(const FieldTexts& fields);
    void startTranscripts();
    void stopTranscripts();
    void showIcon();

    SettingsStore& store;
    const std::filesystem::path transcriptFolder;
    Settings current;
    NotificationPolicy policy;
    AnnouncementPolicy announcements;
    NotificationArea& area;
    bool hidden = false;
    std::optional<int> iconShown;    // the unread count the icon shows, while it is there
    std::optional<CurrentRoom> room; // the room last connected to or hosted
    // Shared with ChatView's line listener, which may still be running on a network thread when
    // transcripts stop; stop() ends the writing, the object goes with the last holder.
    std::shared_ptr<TranscriptWriter> writer;
};
