#include "engine/FileTypes.h"

#include "engine/FileDialog.h"
#include "engine/Host.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace audimera::FileTypes {

namespace {

std::string lower(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool lists(const std::string& label, const std::string& extension)
{
    const std::vector<std::string> listed = extensionsOf(label);
    return std::find(listed.begin(), listed.end(), extension) != listed.end();
}

} // namespace

void offerCurveFiles(FileDialogRequest& request, std::vector<std::string> entries)
{
    request.filter = CurveAndCalibration;
    request.moreFilters = std::move(entries);
    request.moreFilters.emplace_back(AllFiles);
}

std::vector<std::string> extensionsOf(std::string_view label)
{
    std::vector<std::string> extensions;
    const std::size_t open = label.rfind('(');
    if (open == std::string_view::npos)
        return extensions;
    std::string_view patterns = label.substr(open + 1);
    patterns = patterns.substr(0, patterns.find(')'));
    for (std::size_t at = patterns.find("*."); at != std::string_view::npos; at = patterns.find("*.", at)) {
        at += 2;
        const std::size_t end = std::min(patterns.find(' ', at), patterns.size());
        if (end > at)
            extensions.push_back(lower(patterns.substr(at, end - at)));
    }
    return extensions;
}

std::string extensionOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    return lower(name.substr(dot + 1));
}

SaveType saveTypeOf(std::string_view path, const std::vector<std::string>& entries, int chosen)
{
    const std::string extension = extensionOf(path);
    if (chosen < 0 || chosen >= static_cast<int>(entries.size()))
        chosen = 0;
    if (extension.empty() || entries.empty() || lists(entries[static_cast<std::size_t>(chosen)], extension))
        return {chosen, false};
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (lists(entries[i], extension))
            return {static_cast<int>(i), false};
    return {chosen, true};
}

std::vector<std::string> entriesOf(const FileDialogRequest& request)
{
    std::vector<std::string> entries{request.filter};
    entries.insert(entries.end(), request.moreFilters.begin(), request.moreFilters.end());
    return entries;
}

std::optional<int> saveTypeQuestion(Host& host, const std::string& path, const FileDialogRequest& request,
                                    int chosen)
{
    const std::vector<std::string> entries = entriesOf(request);
    const SaveType type = saveTypeOf(path, entries, chosen);
    if (!type.unknown)
        return type.entry;
    const std::string question = "'" + path + "' ends in ." + extensionOf(path) +
        ", which is none of the types offered.\r\nSave it as " + entries[static_cast<std::size_t>(type.entry)] +
        " anyway?";
    if (host.message(question, MessageIcon::Question, MessageButtons::YesNo) != MessageAnswer::Yes)
        return std::nullopt;
    return type.entry;
}

} // namespace audimera::FileTypes
