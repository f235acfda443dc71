#include "curves/DataFolder.h"

#include "common/BuildInfo.h"
#include "dsp/DspLibrary.h"

#include <filesystem>
#include <system_error>

namespace audimera {

namespace DataFolder {

namespace {

// True only when nothing of that name is there; a path that cannot be
// looked at counts as present, so its own error is reported.
bool absent(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    if (ec)
        return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
    return status.type() == std::filesystem::file_type::not_found;
}

} // namespace

std::string installed()
{
    return (std::filesystem::path(DspLibrary::executableDir()) / BuildInfo::DataDir).lexically_normal().string();
}

std::string locate(const std::string& name, const std::string& folder)
{
    const std::filesystem::path path(name);
    if (name.empty() || path.is_absolute() || folder.empty() || !absent(path))
        return name;
    const std::filesystem::path shipped = std::filesystem::path(folder) / path;
    return absent(shipped) ? name : shipped.string();
}

} // namespace DataFolder

} // namespace audimera
