#include "engine/pipeline/own_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "engine/input/volumes.h"

namespace dexalo::archivers {

namespace {

// UTF-8, the text of pax headers (UTF-16 pairs where wchar_t is 16 bits).
std::string Utf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static constexpr char32_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
        for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
    }
    return out;
}

constexpr std::uint64_t kLargestOctalSize = 077777777777;

// "LENGTH key=value\n", the length counting itself.
std::string PaxRecord(const std::string& key, const std::string& value) {
    const std::string body = " " + key + "=" + value + "\n";
    std::size_t length = body.size() + 1;
    while (length != body.size() + std::to_string(length).size()) length = body.size() + std::to_string(length).size();
    return std::to_string(length) + body;
}

void AppendTarHeader(std::string& out, const char* name, char type, std::uint64_t size, std::int64_t mtime,
                     unsigned mode = 0644) {
    char h[512] = {};
    std::snprintf(h, 100, "%s", name);
    std::snprintf(h + 100, 8, "%07o", mode);
    std::snprintf(h + 108, 8, "%07o", 0u);
    std::snprintf(h + 116, 8, "%07o", 0u);
    std::snprintf(h + 124, 12, "%011llo", static_cast<unsigned long long>(size));
    std::snprintf(h + 136, 12, "%011llo", static_cast<unsigned long long>(mtime));
    std::memset(h + 148, ' ', 8);
    h[156] = type;
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);
    unsigned sum = 0;
    for (char c : h) sum += static_cast<unsigned char>(c);
    std::snprintf(h + 148, 8, "%06o", sum);
    out.append(h, sizeof h);
}

class OwnStream final : public OwnStreamState {
public:
    OwnStream(const std::vector<std::wstring>& pieces, OwnReaderMaker make) : file_(pieces), reader_(make(file_)) {}

    // libarchive's callback data: a share of the stream, which its close callback drops.
    using Held = std::shared_ptr<OwnStream>;
    static OwnStream* Of(void* self) { return static_cast<Held*>(self)->get(); }

    static int Opened(archive* a, void* self) {
        auto* s = Of(self);
        if (s->file_.IsOpen() && s->reader_->Open() == own::Status::Ok) return ARCHIVE_OK;
        archive_set_error(a, EILSEQ, "not an archive of this format");
        return ARCHIVE_FATAL;
    }

    static la_ssize_t Read(archive* a, void* self, const void** buffer) {
        return Of(self)->Produce(a, buffer);
    }

    // Skips the rest of an entry's data without decoding it (the listing never decodes).
    static la_int64_t Skip(archive*, void* self, la_int64_t request) {
        auto* s = Of(self);
        if (s->state_ != State::Data || request < static_cast<la_int64_t>(s->remaining_)) return 0;
        const auto skipped = static_cast<la_int64_t>(s->remaining_);
        s->EndData();
        return skipped;
    }

    static int Closed(archive*, void* self) {
        delete static_cast<Held*>(self);
        return ARCHIVE_OK;
    }

    std::uint64_t BytesRead() const override { return file_.Position(); }
    bool EntryEncrypted() const override { return entry_.encrypted; }
    bool EntryUnicode() const override { return entry_.utf8; }
    std::optional<zip::Located> ZipData() const override {
        const auto* zip = dynamic_cast<const zip::Reader*>(reader_.get());
        if (zip == nullptr || state_ != State::Data || remaining_ != entry_.size) return std::nullopt;
        return zip->Unread();
    }

private:
    enum class State { Header, Data, Done };

    la_ssize_t Fail(archive* a, const char* message) {
        archive_set_error(a, EILSEQ, "%s", message);
        return ARCHIVE_FATAL;
    }

    void EndData() {
        padding_ = static_cast<std::size_t>((512 - entry_.size % 512) % 512);
        remaining_ = 0;
        state_ = State::Header;
    }

    la_ssize_t Produce(archive* a, const void** buffer) {
        switch (state_) {
        case State::Done: return 0;
        case State::Data: {
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            const own::Status status = reader_->Read(data, size);
            if (status == own::Status::Unsupported)
                return Fail(a, entry_.unsupported ? entry_.unsupported : "not supported");
            if (status != own::Status::Ok || size == 0 || size > remaining_)
                return Fail(a, "damaged data (a CRC error, or the archive is cut short)");
            remaining_ -= size;
            if (remaining_ == 0) EndData();
            *buffer = data;
            return static_cast<la_ssize_t>(size);
        }
        case State::Header: break;
        }
        block_.assign(padding_, '\0');
        padding_ = 0;
        const own::Status status = reader_->Next(entry_);
        if (status == own::Status::End) {
            block_.append(1024, '\0');
            state_ = State::Done;
        } else if (status != own::Status::Ok) {
            return Fail(a, "damaged header, or the archive is cut short");
        } else {
            const char type = entry_.directory ? '5' : '0';
            const std::int64_t mtime = entry_.mtime;
            // The name goes in a pax record, in UTF-8; the tar header's own name is only a
            // stand-in that the safety checks refuse should the record be empty.
            const std::uint64_t size = entry_.directory ? 0 : entry_.size;
            std::string records = PaxRecord(
                "path", entry_.utf8 ? entry_.name : Utf8(entry_.oem ? platform::FromOem(entry_.name) : platform::FromAnsi(entry_.name)));
            // The tar header's eleven octal digits end below 8 GiB; a pax record carries any size.
            if (size > kLargestOctalSize) records += PaxRecord("size", std::to_string(size));
            AppendTarHeader(block_, "PaxHeader", 'x', records.size(), mtime);
            block_ += records;
            block_.append((512 - records.size() % 512) % 512, '\0');
            const unsigned mode = entry_.directory ? 0755 : entry_.readOnly ? 0444 : 0644;
            AppendTarHeader(block_, "..", type, std::min(size, kLargestOctalSize), mtime, mode);
            remaining_ = size;
            state_ = remaining_ > 0 ? State::Data : State::Header;
        }
        *buffer = block_.data();
        return static_cast<la_ssize_t>(block_.size());
    }

    JoinedFile file_;
    std::unique_ptr<own::Reader> reader_;
    own::Entry entry_;
    State state_ = State::Header;
    std::uint64_t remaining_ = 0;  // data bytes of the entry not yet handed over
    std::size_t padding_ = 0;      // zeros owed after the last entry's data
    std::string block_;
};

} // namespace

bool TestFileBytes(const std::vector<std::wstring>& pieces, bool (*test)(own::Input& input)) {
    JoinedFile file(pieces);
    return file.IsOpen() && test(file);
}

std::shared_ptr<const OwnStreamState> OpenOwnReader(archive* reader, const std::vector<std::wstring>& pieces,
                                                    OwnReaderMaker make, int& result) {
    auto stream = std::make_shared<OwnStream>(pieces, make);
    archive_read_set_callback_data(reader, new OwnStream::Held(stream));
    archive_read_set_open_callback(reader, &OwnStream::Opened);
    archive_read_set_read_callback(reader, &OwnStream::Read);
    archive_read_set_skip_callback(reader, &OwnStream::Skip);
    archive_read_set_close_callback(reader, &OwnStream::Closed);
    // From here libarchive holds a share: its close callback drops it, even after a failed open.
    result = archive_read_open1(reader);
    return stream;
}

} // namespace dexalo::archivers
