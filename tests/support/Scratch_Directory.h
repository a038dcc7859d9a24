#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace Selvan::MURA::test_support {

// A fresh directory for the files a test writes, removed with everything in it afterwards.
class Scratch_Directory {
public:
    Scratch_Directory() {
        static int counter = 0;
        m_path = std::filesystem::temp_directory_path() /
                 ("np3_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~Scratch_Directory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    Scratch_Directory(const Scratch_Directory&) = delete;
    Scratch_Directory& operator=(const Scratch_Directory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    std::string write(const std::string& name, const std::string& contents) const {
        std::ofstream(m_path / name, std::ios::binary) << contents;
        return file(name);
    }

private:
    std::filesystem::path m_path;
};

} // namespace Selvan::MURA::test_support
