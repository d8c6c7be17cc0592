#include "analysis/message/AttachmentFileName.h"

#include "analysis/message/HeaderFields.h"

#include <algorithm>

std::string_view cutUtf8(std::string_view text, std::size_t max)
{
    if (text.size() <= max)
        return text;
    std::size_t cut = max;
    // Back off over continuation bytes to the start of the cut character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

AttachmentFileName::AttachmentFileName(std::string_view decodedName)
{
    std::string name(MAIL::trimBlanks(decodedName));
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.size() - dot > 1 && name.size() - dot <= MaxExtension) {
        extension_ = name.substr(dot);
        name.resize(dot);
    }
    if (std::all_of(name.begin(), name.end(), [](char c) { return c == '.'; })) {
        name = "attachment";
    } else {
        for (std::size_t i = 0; i < name.size() && name[i] == '.'; ++i)
            name[i] = '_';
    }
    stem_ = std::move(name);
}

std::optional<std::string> AttachmentFileName::candidate(int attempt, std::size_t folderLength) const
{
    const std::string suffix = attempt > 1 ? " (" + std::to_string(attempt) + ")" : std::string();
    // Room for the file name: its own limit, and the path's less "<folder>/".
    std::size_t room = MaxFileName;
    if (folderLength + 1 >= MaxPath)
        return std::nullopt;
    room = std::min(room, MaxPath - folderLength - 1);
    if (room < extension_.size() + suffix.size() + 1)
        return std::nullopt;
    const std::string_view stem = cutUtf8(stem_, room - extension_.size() - suffix.size());
    if (stem.empty())
        return std::nullopt;
    return std::string(stem) + suffix + extension_;
}
