#pragma once

#include <filesystem>
#include <string>

// A fresh folder under the system's temporary directory, removed with everything in it when the
// object goes away. Tests never write into the source tree.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

// Whole file as bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes bytes, replacing the file.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
