#include "engine/pipeline/input_reader.h"

#include <archive.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "engine/input/volumes.h"

namespace dexalo::archivers {

namespace {

// libarchive's side of an input. Each read places the input first: several readers may
// share one (a check before the real reading).
struct InputStream {
    std::shared_ptr<own::Input> input;
    std::vector<std::uint8_t> block;
    std::uint64_t at = 0;

    static InputStream& Of(void* self) { return *static_cast<InputStream*>(self); }

    static la_ssize_t Read(archive* a, void* self, const void** buffer) {
        InputStream& s = Of(self);
        const std::uint64_t size = s.input->Size();
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(s.block.size(), size - std::min(s.at, size)));
        const std::size_t n = want == 0 || !s.input->Seek(s.at) ? 0 : s.input->Read(s.block.data(), want);
        // Short before the end: a piece or the disk failed. A stream of unknown size hands out
        // what it decoded before its damage, and fails the read after.
        if (n < want && (size != own::Input::kUnknownSize || (n == 0 && s.input->Failed()))) {
            archive_set_error(a, EIO, "the archive cannot be read");
            return ARCHIVE_FATAL;
        }
        s.at += n;
        *buffer = s.block.data();
        errno = 0;  // see ReadNextHeader
        return static_cast<la_ssize_t>(n);
    }
    static la_int64_t Skip(archive*, void* self, la_int64_t request) {
        InputStream& s = Of(self);
        const std::uint64_t size = s.input->Size();
        const std::uint64_t n = request > 0 ? std::min<std::uint64_t>(static_cast<std::uint64_t>(request), size - std::min(s.at, size)) : 0;
        s.at += n;
        return static_cast<la_int64_t>(n);
    }
    static la_int64_t Seek(archive*, void* self, la_int64_t offset, int whence) {
        InputStream& s = Of(self);
        const auto base = static_cast<la_int64_t>(whence == SEEK_CUR ? s.at : whence == SEEK_END ? s.input->Size() : 0);
        if (base + offset < 0 || static_cast<std::uint64_t>(base + offset) > s.input->Size()) return ARCHIVE_FATAL;
        s.at = static_cast<std::uint64_t>(base + offset);
        return base + offset;
    }
    static int Closed(archive*, void* self) {
        delete static_cast<InputStream*>(self);
        return ARCHIVE_OK;
    }
};

} // namespace

int OpenInputReader(archive* reader, std::shared_ptr<own::Input> input, std::size_t blockSize) {
    archive_read_set_callback_data(reader, new InputStream{std::move(input), std::vector<std::uint8_t>(blockSize)});
    archive_read_set_read_callback(reader, &InputStream::Read);
    archive_read_set_skip_callback(reader, &InputStream::Skip);
    archive_read_set_seek_callback(reader, &InputStream::Seek);
    archive_read_set_close_callback(reader, &InputStream::Closed);
    // From here libarchive owns the stream: its close callback deletes it, even after a failed open.
    return archive_read_open1(reader);
}

int OpenJoinedReader(archive* reader, const std::vector<std::wstring>& pieces, std::size_t blockSize) {
    auto file = std::make_shared<JoinedFile>(pieces);
    if (!file->IsOpen()) {
        archive_set_error(reader, ENOENT, "a piece of the set cannot be found");
        return ARCHIVE_FATAL;
    }
    return OpenInputReader(reader, std::move(file), blockSize);
}

int ReadNextHeader(archive* reader, archive_entry** entry) {
    errno = 0;
    return archive_read_next_header(reader, entry);
}

int ReadDataBlock(archive* reader, const void** block, std::size_t* size, la_int64_t* offset) {
    errno = 0;
    return archive_read_data_block(reader, block, size, offset);
}

} // namespace dexalo::archivers
