// Reading parlox-bridge's command line.
#include "app/bridge/bridge_command_line.h"

#include "app/console/command_line.h"

#include <algorithm>

namespace {

// "host:port" with a port from 1 to 65535.
bool ReadEndpoint(const std::string& text, std::string& host, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = text.substr(0, colon);
    return ReadNumberOption<uint16_t>(std::string_view(text).substr(colon + 1), 1, 65535, port);
}

// A channel name as servers take it: a type character, then no blank, comma, BEL or line end.
bool IsChannelName(const std::string& name) {
    constexpr std::string_view TYPES = "#&+!";
    constexpr std::string_view BANNED(" ,\x07\r\n\0", 6);
    return name.size() >= 2 && name.size() <= 50 && TYPES.find(name[0]) != std::string::npos &&
           name.find_first_of(BANNED) == std::string::npos;
}

// A nick: a letter or one of []\`_^{|} first, then those, digits and '-'.
bool IsNick(const std::string& nick) {
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    const auto special = [](char c) {
        return std::string_view("[]\\`_^{|}").find(c) != std::string_view::npos;
    };
    if (nick.empty() || nick.size() > 30 || !(letter(nick[0]) || special(nick[0])))
        return false;
    return std::all_of(nick.begin(), nick.end(), [&](char c) {
        return letter(c) || special(c) || (c >= '0' && c <= '9') || c == '-';
    });
}

// 64 hex digits, with or without colons between pairs, as lower-case digits.
bool ReadFingerprint(const std::string& text, std::string& digits) {
    digits.clear();
    for (char c : text) {
        if (c == ':')
            continue;
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
        digits += c;
    }
    return digits.size() == 64;
}

// Sets one option's field; false with the reason in error when its value does not do.
bool Apply(const CommandLineOption& option, BridgeOptions& options, std::string& error) {
    const std::string& name = option.name;
    const std::string& value = option.value;
    bool good = true;
    if (name == "--tls") {
        options.tls = true;
    } else if (name == "--notices") {
        options.notices = true;
    } else if (name == "--room") {
        good = ReadEndpoint(value, options.roomAddress, options.roomPort);
        error = "--room wants ADDRESS:PORT, PORT from 1 to 65535: " + value;
    } else if (name == "--irc") {
        good = ReadEndpoint(value, options.ircHost, options.ircPort);
        error = "--irc wants HOST:PORT, PORT from 1 to 65535: " + value;
    } else if (name == "--channel") {
        good = IsChannelName(value);
        options.channel = value;
        error = "--channel wants a channel name such as '#office': " + value;
    } else if (name == "--nick") {
        good = IsNick(value);
        options.nick = value;
        error =
            "--nick wants an IRC nick (a letter first, then letters, digits and -[]\\`_^{|}): " +
            value;
    } else if (name == "--ca") {
        options.tlsSettings.caFile = value;
    } else if (name == "--fingerprint") {
        good = ReadFingerprint(value, options.tlsSettings.fingerprint);
        error = "--fingerprint wants the certificate's SHA-256 as 64 hex digits: " + value;
    } else if (name == "--queue") {
        good = ReadNumberOption<size_t>(value, 1, 100000, options.queueLines);
        error = "--queue wants a number of lines from 1 to 100000: " + value;
    } else if (name == "--pace") {
        good = ReadNumberOption<unsigned>(value, 1, 60000, options.paceMs);
        error = "--pace wants milliseconds from 1 to 60000: " + value;
    } else {
        good = false;
        error = "unknown option: " + name;
    }
    return good;
}

} // namespace

std::optional<BridgeOptions> ParseBridgeCommandLine(const std::vector<std::string>& args,
                                                    std::string& error) {
    const auto read = ReadCommandLine(args, {"--tls", "--notices"}, error);
    if (!read)
        return std::nullopt;
    BridgeOptions options;
    for (const CommandLineOption& option : *read)
        if (!Apply(option, options, error))
            return std::nullopt;
    error.clear();
    if (options.roomAddress.empty() || options.ircHost.empty() || options.channel.empty())
        error = "--room, --irc and --channel are needed";
    const bool pinned = !options.tlsSettings.fingerprint.empty();
    const bool ca = !options.tlsSettings.caFile.empty();
    if (pinned && ca)
        error = "--ca and --fingerprint exclude each other";
    else if ((pinned || ca) && !options.tls)
        error = "--ca and --fingerprint need --tls";
    if (!error.empty())
        return std::nullopt;
    return options;
}
