// A fresh folder under the system's temporary folder, removed with everything in it when the
// test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace grainforge::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Names of the entries in the folder, sorted.
    std::vector<std::string> List() const;

private:
    std::filesystem::path path_;
};

// Whole-file helpers for tests.
std::vector<std::uint8_t> ReadAllBytes(const std::filesystem::path& path);
void WriteAllBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void WriteAllText(const std::filesystem::path& path, const std::string& text);

}  // namespace grainforge::test
