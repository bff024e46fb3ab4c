#pragma once
// BLAKE2sp, the file hash RAR 5 keeps (rar -htb): eight BLAKE2s leaves take the input's
// 64-byte blocks in turn, and a root BLAKE2s hashes their eight digests. Every node is BLAKE2s
// with fanout 8, depth 2 and 32-byte inner digests; the leaves are nodes 0 to 7 at depth 0,
// the root node 0 at depth 1; the last leaf and the root are last nodes.
#include <array>
#include <cstddef>
#include <cstdint>

namespace dexalo::archivers {

class Blake2sp {
public:
    Blake2sp();
    void Update(const std::uint8_t* data, std::size_t size);
    std::array<std::uint8_t, 32> Finish();

private:
    // One BLAKE2s node. Its last block is held back until Finish, which compresses it flagged.
    class Node {
    public:
        Node(unsigned offset, unsigned depth, bool last);
        void Update(const std::uint8_t* data, std::size_t size);
        std::array<std::uint8_t, 32> Finish();

    private:
        void Compress(const std::uint8_t* block, bool final);
        std::array<std::uint32_t, 8> h_{};
        std::uint64_t counter_ = 0;
        std::array<std::uint8_t, 64> buffer_{};
        std::size_t buffered_ = 0;
        bool last_;
    };
    std::array<Node, 8> leaves_;
    std::uint64_t position_ = 0;  // bytes taken so far: which leaf the next block goes to
};

} // namespace dexalo::archivers
