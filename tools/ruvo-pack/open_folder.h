#pragma once
// A folder of the server layout held open by its descriptor (POSIX only).
// Everything read from it or removed in it is an entry of that very folder:
// a name is never joined into a path, and no link is followed, neither the
// folder itself nor an entry. What a Door or release.txt names can then
// never reach past the folder, whatever it spells.
#include <cstdint>
#include <string>
#include <vector>

class COpenFolder {
public:
    COpenFolder() = default;
    COpenFolder(const COpenFolder&) = delete;
    COpenFolder& operator=(const COpenFolder&) = delete;
    ~COpenFolder();

    // Opens `path`; refuses one that is a symbolic link or no folder.
    bool Open(const std::string& path, std::string* error);
    const std::string& Path() const { return m_path; }

    struct Entry {
        std::string name;
        bool regular;   // a regular file (a link is never one, wherever it points)
        uint64_t size;  // of a regular file
    };
    // The entries but "." and "..", sorted by name.
    bool List(std::vector<Entry>* entries, std::string* error) const;

    // Reads a regular file of this folder, refusing a link, as ReadWholeFile
    // refuses any unfit input.
    bool ReadFile(const std::string& name, uint64_t cap, std::vector<uint8_t>* bytes, std::string* error) const;

    // Removes the file `name` of this folder (unlinkat). A name that is no
    // single entry ("", ".", "..", anything with '/') is refused unused.
    bool RemoveFile(const std::string& name, std::string* error) const;

    // The path of an entry, for messages only.
    std::string PathOf(const std::string& name) const;

private:
    int m_fd = -1;
    std::string m_path;
};
