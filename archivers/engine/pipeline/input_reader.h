#pragma once
// libarchive reading our inputs (the pieces of a set as one file, a decrypted view).
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/own_reader.h"

struct archive;

namespace dexalo::archivers {

// Opens `reader` on `input`, seekable, `blockSize` bytes at a time; an input that reads short
// before its end fails the reading.
int OpenInputReader(archive* reader, std::shared_ptr<own::Input> input, std::size_t blockSize);
// Opens `reader` on the pieces as one seekable stream.
int OpenJoinedReader(archive* reader, const std::vector<std::wstring>& pieces, std::size_t blockSize);

} // namespace dexalo::archivers
