// Loads a private copy of the built Audidsp so that each test starts from a
// freshly loaded library (its filter states at zero).
#pragma once

#include "dsp/DspLibrary.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace audimera {

class FreshDsp {
public:
    FreshDsp()
    {
        std::filesystem::copy_file(AUDIDSP_BUILT_PATH, m_folder.file(AUDIDSP_FILE_NAME));
        m_lib = std::make_unique<DspLibrary>(AUDIDSP_FILE_NAME, std::vector<std::string>{m_folder.path()});
    }
    ~FreshDsp()
    {
        m_lib.reset(); // unloaded before its folder goes
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
    TestFolder m_folder;
    std::unique_ptr<DspLibrary> m_lib;
};

} // namespace audimera
