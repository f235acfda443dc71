// Loads a private copy of the built Audidsp so that each test starts from a
// freshly loaded library (its filter states at zero).
#pragma once

#include "DspLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

class FreshDsp {
public:
    FreshDsp()
    {
        namespace fs = std::filesystem;
        char tmpl[] = "/tmp/audidsp-test-XXXXXX";
        m_dir = mkdtemp(tmpl);
        fs::copy_file(AUDIDSP_BUILT_PATH, m_dir + "/" + AUDIDSP_FILE_NAME);
        m_lib = std::make_unique<DspLibrary>(AUDIDSP_FILE_NAME, std::vector<std::string>{m_dir});
    }
    ~FreshDsp()
    {
        m_lib.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    template <typename Fn>
    Fn get(const char* name)
    {
        std::string error;
        void* p = m_lib->symbol(name, &error);
        EXPECT_NE(p, nullptr) << error;
        return reinterpret_cast<Fn>(p);
    }

    DspLibrary& library() { return *m_lib; }

private:
    std::string m_dir;
    std::unique_ptr<DspLibrary> m_lib;
};
