// The texts of a notification, made safe to show: names and chat texts are untrusted bytes.
#pragma once

#include <string>
#include <string_view>

// Bytes kept of a writer's name in a summary and of a chat text in a body.
inline constexpr size_t SUMMARY_NAME_LIMIT = 64;
inline constexpr size_t BODY_LIMIT = 200;

// "<name> in Parlox", the name cut to SUMMARY_NAME_LIMIT bytes and control characters shown as
// spaces.
std::string NotificationSummary(std::string_view name);
// The text cut to BODY_LIMIT bytes (an ellipsis marks the cut), control characters as spaces.
std::string NotificationBody(std::string_view text);
// "N new lines".
std::string NewLinesBody(int lines);
// '&', '<' and '>' as entities, for notification services that read the body as markup.
std::string EscapeMarkup(std::string_view text);
