#pragma once
// Shared by the fuzz targets over the engine's decrypted views: libarchive reads what a view
// hands it.
#include <archive.h>
#include <archive_entry.h>

#include <cstddef>
#include <memory>

#include "engine/pipeline/input_reader.h"

namespace dexalo::fuzz {

// Every entry's data, with `support` as the only format: at most 64 entries, and 16 MiB in
// all (a bomb: enough).
inline void ReadEntries(std::shared_ptr<archivers::own::Input> input, int (*support)(archive*)) {
    archive* reader = archive_read_new();
    support(reader);
    if (archivers::OpenInputReader(reader, std::move(input), 1 << 16) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        std::size_t total = 0;
        for (int entries = 0; entries < 64 && archivers::ReadNextHeader(reader, &entry) == ARCHIVE_OK; ++entries) {
            const void* block = nullptr;
            std::size_t got = 0;
            la_int64_t offset = 0;
            while (archivers::ReadDataBlock(reader, &block, &got, &offset) == ARCHIVE_OK)
                if ((total += got) > (1u << 24)) break;
        }
    }
    archive_read_free(reader);
}

} // namespace dexalo::fuzz
