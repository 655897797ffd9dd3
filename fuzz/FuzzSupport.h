// What the fuzz targets share: a private scratch folder for the loaders that read files, and a
// check that ends the run with a report when a property of the code under test fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sentorix::fuzz
{

// A folder of this process under $TMPDIR (else /dev/shm, else /tmp), made at the first call and
// removed with its files when the process exits.
const std::string& scratchFolder();

// "<scratchFolder>/<name>", with `size` bytes written as its whole content.
std::string writeScratchFile(const std::string& name, const uint8_t* data, std::size_t size);

// Aborts with `what` on standard error when `condition` is false, so libFuzzer saves the input.
void require(bool condition, const char* what);

} // namespace sentorix::fuzz
