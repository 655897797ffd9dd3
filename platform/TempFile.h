// Unique temporary files: "<prefix><1-4 hex digits>.tmp" in a folder, created empty and
// exclusively, so two threads or processes never get the same name.
#pragma once

#include <string>

namespace sentorix
{

// Creates the file and returns its path; empty when no name could be had.
std::string createTempFile(const std::string& folder, const std::string& prefix = "KTP");

// Deletes every regular file in `folder` whose name ends in ".tmp" in any letter case.
void deleteTempFiles(const std::string& folder);

} // namespace sentorix
