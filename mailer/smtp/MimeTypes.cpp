#include "mailer/smtp/MimeTypes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sentorix
{

namespace
{

std::string lowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t colon = line.find(':', pos);
        if (colon == std::string_view::npos) {
            fields.push_back(line.substr(pos));
            return fields;
        }
        fields.push_back(line.substr(pos, colon - pos));
        pos = colon + 1;
    }
}

} // namespace

bool MimeGlobs::load(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::string text;
    char buffer[16384];
    // The database is a few hundred kilobytes; a file far larger is not one.
    constexpr std::size_t kMaxSize = 64u << 20;
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < kMaxSize)
        text.append(buffer, got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok)
        return false;
    parse(text);
    return true;
}

void MimeGlobs::parse(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;

        const auto fields = splitFields(line);
        int weight = 50;
        std::string_view type;
        std::string_view glob;
        bool caseSensitive = false;
        if (fields.size() >= 3 && allDigits(fields[0])) {
            // globs2: weight:type:glob[:flags[:...]]
            weight = 0;
            for (char c : fields[0])
                weight = std::min(weight * 10 + (c - '0'), 1000);
            type = fields[1];
            glob = fields[2];
            if (fields.size() >= 4) {
                std::string_view flags = fields[3];
                while (!flags.empty()) {
                    const std::size_t comma = flags.find(',');
                    if (flags.substr(0, comma) == "cs")
                        caseSensitive = true;
                    if (comma == std::string_view::npos)
                        break;
                    flags.remove_prefix(comma + 1);
                }
            }
        } else if (fields.size() == 2) {
            type = fields[0];
            glob = fields[1];
        } else {
            continue;
        }
        // Only "*.ext" globs, without further wildcards, name an extension.
        if (type.empty() || type.find('/') == std::string_view::npos || glob.size() < 3 ||
            glob[0] != '*' || glob[1] != '.' ||
            glob.substr(1).find_first_of("*?[") != std::string_view::npos)
            continue;
        const std::string_view extension = glob.substr(1);
        m_entries.push_back(Entry{weight, std::string(type),
                                  caseSensitive ? std::string(extension) : lowerCase(extension),
                                  caseSensitive});
    }
}

std::string MimeGlobs::lookup(std::string_view extension) const
{
    if (extension.empty())
        return {};
    const std::string lowered = lowerCase(extension);
    const Entry* best = nullptr;
    for (const Entry& entry : m_entries) {
        const bool match =
            entry.caseSensitive ? entry.extension == extension : entry.extension == lowered;
        if (match && (best == nullptr || entry.weight > best->weight))
            best = &entry;
    }
    return best != nullptr ? best->type : std::string();
}

std::string systemMimeType(std::string_view extension)
{
    static const MimeGlobs globs = [] {
        MimeGlobs g;
        if (!g.load("/usr/share/mime/globs2"))
            g.load("/usr/share/mime/globs");
        return g;
    }();
    return globs.lookup(extension);
}

} // namespace sentorix
