// The texts of notifications, announcements and the notification area's icon, made safe to show:
// names and chat texts are untrusted bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Bytes kept of a writer's name in a summary and of a chat text in a body.
inline constexpr size_t SUMMARY_NAME_LIMIT = 64;
inline constexpr size_t BODY_LIMIT = 200;

// Writers named in "N new lines, from ..." before the rest are counted as others.
inline constexpr size_t NAMED_WRITERS = 3;

// A writer's name cut to SUMMARY_NAME_LIMIT bytes, control characters shown as spaces.
std::string NotifiedName(std::string_view name);
// "<name> in Parlox", the name as NotifiedName has it.
std::string NotificationSummary(std::string_view name);
// The text cut to BODY_LIMIT bytes (an ellipsis marks the cut), control characters as spaces.
std::string NotificationBody(std::string_view text);
// "N new lines".
std::string NewLinesBody(int lines);
// "<name>: <text>", as NotifiedName and NotificationBody have them.
std::string AnnouncedLine(std::string_view name, std::string_view text);
// "N new lines, from Bob", "... from Bob and Ann", "... from Bob, Ann and Cy", "... from Bob, Ann,
// Cy and 2 others": the writers in the order given, each as NotifiedName has it.
std::string NewLinesFrom(int lines, const std::vector<std::string>& writers);
// What the notification area's icon says: "Parlox", or "Parlox: 1 unread line", "Parlox: N
// unread lines".
std::string UnreadToolTip(int unread);
// '&', '<' and '>' as entities, for notification services that read the body as markup.
std::string EscapeMarkup(std::string_view text);
