#pragma once
// libarchive reading our inputs (the pieces of a set as one file, a decrypted view).
#include <archive.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine/input/own_reader.h"

namespace dexalo::archivers {

// Opens `reader` on `input`, seekable, `blockSize` bytes at a time; an input that reads short
// before its end fails the reading.
int OpenInputReader(archive* reader, std::shared_ptr<own::Input> input, std::size_t blockSize);
// Opens `reader` on the pieces as one seekable stream.
int OpenJoinedReader(archive* reader, const std::vector<std::wstring>& pieces, std::size_t blockSize);

// archive_read_next_header and archive_read_data_block, started with errno cleared.
// libarchive 3.6 ends the process ("No memory") when it cannot convert a name, link target or
// owner it has just read and errno happens to be ENOMEM (archive_entry_update_*_utf8), and
// errno is whatever the thread's last failed call left. A RAR 5 header whose name length runs
// far past it leaves ENOMEM: libarchive tries to allocate that much to read the name ahead,
// fails, and ends that reading as if the archive ended there. The next name it cannot convert
// (in the DLLs' "C" locale any name beyond Latin-1; natively one that is not UTF-8) would then
// end the host, in another archive or another call of the library. A failed allocation
// within one of these calls ends the call before any name is converted, and our own read
// callbacks clear errno too (a RAR 5 reader reads the next volume's headers within a data
// read), so errno is never ENOMEM where it is looked at.
int ReadNextHeader(archive* reader, archive_entry** entry);
int ReadDataBlock(archive* reader, const void** block, std::size_t* size, la_int64_t* offset);

} // namespace dexalo::archivers
