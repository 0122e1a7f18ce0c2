// A named temporary file for the unit tests of the stream layer, removed when
// the object goes. Named, because FileStream opens files by name and the
// platform's own buffers come only with that open.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class scratch_file {
public:
    explicit scratch_file(const std::string& bytes = "")
    {
        // Random names: ctest runs the cases as parallel processes.
        static std::mt19937_64 gen{std::random_device{}()};
        const auto dir = std::filesystem::temp_directory_path();
        path = (dir / ("kelto_unit_" + std::to_string(gen()))).string();
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
