#pragma once
#include <cstdint>

#include "video/vid_format.h"

// Entropy stage of a .vid frame record: a 1284-byte code table (unpacked size, 256 codes,
// 256 code lengths) followed by an LSB-first bitstream. Codes of up to 10 bits decode through
// a 1024-entry table, longer ones through a code tree rebuilt for every record. Child index 0
// in the tree means "no child" (the root is nobody's child).
class HuffmanDecoder {
  public:
    static const int kTableBytes = kRecordTableBytes;

    HuffmanDecoder();
    ~HuffmanDecoder();
    HuffmanDecoder(const HuffmanDecoder&) = delete;
    HuffmanDecoder& operator=(const HuffmanDecoder&) = delete;

    // Reads the code table of a record of `size` bytes. The caller guarantees size >= 1284
    // and that the record stays valid until decode() returns.
    void load(const unsigned char* record, int size);

    // Decodes the bitstream into `out`, writing at most min(unpackedSize, outCapacity) bytes.
    // Bytes past the last decoded one keep their previous contents. Stream bytes past the end
    // of the record read as zero.
    void decode(unsigned char* out, int outCapacity);

    int32_t unpackedSize = 0;
    uint32_t codes[kCodeSymbols] = {};
    uint8_t codeLengths[kCodeSymbols] = {};
    const unsigned char* bitstream = nullptr;
    int32_t bitstreamSize = 0;

    // Code tree, kept in one pool of nodes addressed by index; node 0 is the root.
    struct Node {
        uint8_t symbol;
        int32_t parent;
        int32_t one;
        int32_t zero;
    };
    Node* tree = nullptr;
    int32_t treeSize = 0;
    int32_t treeCapacity = 0;
    int32_t cursor = 0;

    // Output of the extra readers that decode the later parts of a long stream at the same
    // time as the first; grown to the largest need seen, kept between records.
    unsigned char* spare = nullptr;
    int32_t spareCapacity = 0;
};
