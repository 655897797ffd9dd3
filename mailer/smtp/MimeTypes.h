// MIME type of an attachment from its file name extension, looked up in the shared MIME-info
// database's glob lists (/usr/share/mime/globs2, else /usr/share/mime/globs).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sentorix
{

// The simple "*.ext" globs of one glob file. Other patterns are ignored.
class MimeGlobs
{
public:
    // Reads a globs2 ("weight:type:glob[:flags]") or globs ("type:glob") file. False when it
    // cannot be read.
    bool load(const std::string& path);
    // Parses the text of such a file.
    void parse(std::string_view text);

    // The type for an extension that includes its leading "." (".txt", ".tar.gz"), compared
    // without regard to case; the highest weight wins, then the earliest line. Empty when
    // unknown.
    std::string lookup(std::string_view extension) const;

    bool empty() const { return m_entries.empty(); }

private:
    struct Entry {
        int weight;
        std::string type;
        std::string extension; // with the leading "."; lower case unless caseSensitive
        bool caseSensitive;    // the "cs" flag of globs2
    };
    std::vector<Entry> m_entries;
};

// The type that the installed database gives for `extension` (with its leading "."), or
// empty. The database is read once per process.
std::string systemMimeType(std::string_view extension);

} // namespace sentorix
