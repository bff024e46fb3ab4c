#include "engine/codecs/blake2sp.h"

#include <algorithm>

#include "engine/codecs/bytes.h"

namespace dexalo::archivers {

namespace {

constexpr std::array<std::uint32_t, 8> kIv = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                              0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
constexpr std::uint8_t kSigma[10][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4}, {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13}, {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11}, {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5}, {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0}};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return x >> n | x << (32 - n); }

constexpr unsigned kFanout = 8, kDepth = 2, kDigest = 32;

} // namespace

Blake2sp::Node::Node(unsigned offset, unsigned depth, bool last) : h_(kIv), last_(last) {
    // The parameter block's words: digest length, key length 0, fanout, depth; leaf length 0;
    // node offset; node depth and inner digest length; no salt, no personalisation.
    h_[0] ^= kDigest | kFanout << 16 | kDepth << 24;
    h_[2] ^= offset;
    h_[3] ^= depth << 16 | kDigest << 24;
}

void Blake2sp::Node::Compress(const std::uint8_t* block, bool final) {
    std::uint32_t m[16], v[16];
    for (int i = 0; i < 16; ++i) m[i] = Le32(block + 4 * i);
    std::copy(h_.begin(), h_.end(), v);
    std::copy(kIv.begin(), kIv.end(), v + 8);
    v[12] ^= static_cast<std::uint32_t>(counter_);
    v[13] ^= static_cast<std::uint32_t>(counter_ >> 32);
    if (final) v[14] = ~v[14];
    if (final && last_) v[15] = ~v[15];
    auto g = [&](int a, int b, int c, int d, std::uint32_t x, std::uint32_t y) {
        v[a] += v[b] + x;
        v[d] = Rotr(v[d] ^ v[a], 16);
        v[c] += v[d];
        v[b] = Rotr(v[b] ^ v[c], 12);
        v[a] += v[b] + y;
        v[d] = Rotr(v[d] ^ v[a], 8);
        v[c] += v[d];
        v[b] = Rotr(v[b] ^ v[c], 7);
    };
    for (const auto& s : kSigma) {
        g(0, 4, 8, 12, m[s[0]], m[s[1]]);
        g(1, 5, 9, 13, m[s[2]], m[s[3]]);
        g(2, 6, 10, 14, m[s[4]], m[s[5]]);
        g(3, 7, 11, 15, m[s[6]], m[s[7]]);
        g(0, 5, 10, 15, m[s[8]], m[s[9]]);
        g(1, 6, 11, 12, m[s[10]], m[s[11]]);
        g(2, 7, 8, 13, m[s[12]], m[s[13]]);
        g(3, 4, 9, 14, m[s[14]], m[s[15]]);
    }
    for (int i = 0; i < 8; ++i) h_[i] ^= v[i] ^ v[i + 8];
}

void Blake2sp::Node::Update(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        if (buffered_ == 64) {  // more follows, so this block is not the last
            counter_ += 64;
            Compress(buffer_.data(), false);
            buffered_ = 0;
        }
        if (buffered_ == 0) {
            for (; size > 64; data += 64, size -= 64) {
                counter_ += 64;
                Compress(data, false);
            }
        }
        const std::size_t n = std::min(size, 64 - buffered_);
        std::copy_n(data, n, buffer_.begin() + static_cast<std::ptrdiff_t>(buffered_));
        buffered_ += n;
        data += n;
        size -= n;
    }
}

std::array<std::uint8_t, 32> Blake2sp::Node::Finish() {
    counter_ += buffered_;
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(buffered_), buffer_.end(), 0);
    Compress(buffer_.data(), true);
    std::array<std::uint8_t, 32> digest{};
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<std::uint8_t>(h_[i / 4] >> (8 * (i % 4)));
    return digest;
}

Blake2sp::Blake2sp()
    : leaves_{Node(0, 0, false), Node(1, 0, false), Node(2, 0, false), Node(3, 0, false),
              Node(4, 0, false), Node(5, 0, false), Node(6, 0, false), Node(7, 0, true)} {}

void Blake2sp::Update(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t n = std::min<std::uint64_t>(size, 64 - position_ % 64);
        leaves_[position_ / 64 % 8].Update(data, n);
        position_ += n;
        data += n;
        size -= n;
    }
}

std::array<std::uint8_t, 32> Blake2sp::Finish() {
    Node root(0, 1, true);
    for (Node& leaf : leaves_) {
        const auto digest = leaf.Finish();
        root.Update(digest.data(), digest.size());
    }
    return root.Finish();
}

} // namespace dexalo::archivers
