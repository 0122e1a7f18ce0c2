// A named temporary file for the unit tests of the stream layer, removed when
// the object goes, and the unique scratch paths of the tests on real files. Named, because
// FileStream opens files by name and the platform's own buffers come only with that open.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

// A path of its own under the system's temporary directory: PREFIX and a
// random number. A name fixed by the test alone would be shared by every run
// of the suite at the same time (ctest's parallel processes, other builds).
inline std::filesystem::path scratch_path(const std::string& prefix)
{
    static std::mt19937_64 gen{std::random_device{}()};
    return std::filesystem::temp_directory_path() / (prefix + std::to_string(gen()));
}

class scratch_file {
public:
    explicit scratch_file(const std::string& bytes = "")
        : path(scratch_path("kelto_unit_").string())
    {
        write(bytes);
    }
    ~scratch_file() { std::remove(path.c_str()); }
    scratch_file(const scratch_file&) = delete;
    scratch_file& operator=(const scratch_file&) = delete;

    void write(const std::string& bytes) const
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    const char* name() const { return path.c_str(); }

private:
    std::string path;
};
