#pragma once
// Shared by the fuzz targets over the engine's decrypted views: libarchive reads what a view
// hands it.
#include <archive.h>
#include <archive_entry.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/pipeline/input_reader.h"

namespace dexalo::fuzz {

// Every entry's data, with `support` as the only format: at most 64 entries, and 16 MiB in
// all (a bomb: enough).
inline void ReadEntries(std::shared_ptr<archivers::own::Input> input, int (*support)(archive*)) {
    archive* reader = archive_read_new();
    support(reader);
    if (archivers::OpenInputReader(reader, std::move(input), 1 << 16) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        std::vector<unsigned char> block(1 << 16);
        std::size_t total = 0;
        for (int entries = 0; entries < 64 && archive_read_next_header(reader, &entry) == ARCHIVE_OK; ++entries) {
            la_ssize_t got;
            while ((got = archive_read_data(reader, block.data(), block.size())) > 0)
                if ((total += static_cast<std::size_t>(got)) > (1u << 24)) break;
        }
    }
    archive_read_free(reader);
}

} // namespace dexalo::fuzz
