#include "dsp/DspLibrary.h"

#include "common/BuildInfo.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <utility>

namespace audimera {

DspLibrary::DspLibrary(std::string fileName, std::vector<std::string> searchDirs)
    : m_fileName(std::move(fileName)), m_searchDirs(std::move(searchDirs))
{
    if (m_searchDirs.empty())
        m_searchDirs = defaultSearchDirs(executableDir());
}

std::vector<std::string> DspLibrary::defaultSearchDirs(const std::string& exeDir)
{
    const std::filesystem::path privateDir =
        (std::filesystem::path(exeDir) / BuildInfo::PrivateLibraryDir).lexically_normal();
    std::string text = privateDir.string();
    if (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return {exeDir, text};
}

DspLibrary::~DspLibrary()
{
    if (m_handle)
        dlclose(m_handle);
}

std::string DspLibrary::executableDir()
{
    char buf[PATH_MAX];
    const ssize_t len = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (len <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(len));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string DspLibrary::load()
{
    if (m_handle)
        return {};
    std::string firstError;
    for (const std::string& dir : m_searchDirs) {
        if (dir.empty())
            continue;
        const std::string path = dir + "/" + m_fileName;
        if (access(path.c_str(), F_OK) != 0)
            continue;
        if (void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            m_handle = h;
            m_loadedPath = path;
            return {};
        }
        // The file is there but cannot be loaded: that reason matters more
        // than the system search's "not found".
        if (firstError.empty()) {
            const char* why = dlerror();
            firstError = why ? why : "unknown error";
        }
    }
    if (firstError.empty()) {
        if (void* h = dlopen(m_fileName.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            m_handle = h;
            m_loadedPath = m_fileName;
            return {};
        }
        const char* why = dlerror();
        firstError = why ? why : "unknown error";
    }
    return "Cannot load the DSP library '" + m_fileName + "': " + firstError;
}

void* DspLibrary::symbol(const char* name, std::string* error)
{
    for (const Binding& b : m_bindings)
        if (b.name == name)
            return b.address;
    std::string why = load();
    if (!why.empty()) {
        if (error)
            *error = why;
        return nullptr;
    }
    dlerror();
    void* address = dlsym(m_handle, name);
    if (!address) {
        if (error)
            *error = "The DSP library '" + m_loadedPath + "' has no export '" + name + "'.";
        return nullptr;
    }
    m_bindings.push_back(Binding{name, address});
    return address;
}

Status DspLibrary::require(const std::vector<const char*>& names)
{
    std::string error;
    for (const char* name : names)
        if (!symbol(name, &error))
            return Error::of(Failure::Install, error);
    return {};
}

DspLibrary& DspLibrary::instance()
{
    static DspLibrary library;
    return library;
}

namespace Audidsp {

namespace {

template <typename Fn>
Fn bind(const char* name)
{
    std::string error;
    void* address = DspLibrary::instance().symbol(name, &error);
    if (!address)
        throw DspError(error);
    return reinterpret_cast<Fn>(address);
}

} // namespace

void GetBSpline(int32_t res, const double* xIn, const double* yIn, int32_t nIn, double* xOut,
                double* yOut, int32_t* outCount, int32_t order)
{
    static AUDIDSP_PFN_GetBSpline fn = nullptr;
    if (!fn)
        fn = bind<AUDIDSP_PFN_GetBSpline>("GetBSpline");
    fn(res, xIn, yIn, nIn, xOut, yOut, outCount, order);
}

double LowPass44(double x, double init, int32_t reset)
{
    static AUDIDSP_PFN_LowPass44 fn = nullptr;
    if (!fn)
        fn = bind<AUDIDSP_PFN_LowPass44>("LowPass44");
    return fn(x, init, reset);
}

const std::vector<const char*>& programExports()
{
    static const std::vector<const char*> names{"GetBSpline", "LowPass44"};
    return names;
}

} // namespace Audidsp

} // namespace audimera
