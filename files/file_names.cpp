// Names of offered files, shown and saved.
#include "files/file_names.h"

#include "files/local_file.h"
#include "files/random_id.h"
#include "text/shown_text.h"
#include "text/utf8.h"

#include <array>

namespace {

// Bidirectional marks that ShownText leaves alone, since they reorder nothing in a chat line, but
// which can turn a file name's extension around: ALM, LRM and RLM.
constexpr std::array<std::string_view, 3> BIDI_MARKS = {"\xD8\x9C", "\xE2\x80\x8E", "\xE2\x80\x8F"};

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

bool IsDeviceName(std::string_view name) {
    // The part before the first dot, without trailing spaces, in any letter case.
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '0' && stem[3] <= '9';
}

void TrimDotsAndSpaces(std::string& name) {
    const size_t first = name.find_first_not_of(". ");
    if (first == std::string::npos) {
        name.clear();
        return;
    }
    name.erase(0, first);
    name.erase(name.find_last_not_of(". ") + 1);
}

} // namespace

std::string ShownFileName(std::string_view offered) {
    std::string shown = ShownText(offered);
    ReplaceAll(shown, "\t", " ");
    for (const std::string_view mark : BIDI_MARKS)
        ReplaceAll(shown, mark, HIDDEN_MARK);
    return shown.empty() ? "file" : shown;
}

std::string SafeFileName(std::string_view offered) {
    std::string name = ShownFileName(offered);
    ReplaceAll(name, HIDDEN_MARK, "_");
    ReplaceAll(name, BREAK_MARK, "_");
    for (char& c : name)
        if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    TrimDotsAndSpaces(name);
    if (name.size() > SAFE_NAME_LIMIT) {
        // The extension stays when it is short enough to be one.
        const size_t dot = name.rfind('.');
        const std::string extension =
            dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : "";
        name = std::string(CutToCharBoundary(name, SAFE_NAME_LIMIT - extension.size()));
        TrimDotsAndSpaces(name);
        name += extension;
    }
    if (name.empty() || name.front() == '.')
        name = "file" + name;
    if (IsDeviceName(name))
        name = "_" + name;
    return name;
}

std::string FileNameOf(const std::string& path) {
    return path.substr(path.find_last_of(PATH_SEPARATORS) + 1);
}

std::string FolderOf(const std::string& path) {
    const size_t separator = path.find_last_of(PATH_SEPARATORS);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string PartFileName(const std::string& target) {
    const std::string name(CutToCharBoundary(FileNameOf(target), 100));
    return FolderOf(target) + "." + name + "." + RandomId().substr(0, 16) + ".part";
}
