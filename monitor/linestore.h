// Compact storage for the lines of a text pane.
//
// Received lines are Windows-1252 bytes: they are copied once into large chunks (one
// byte per character, no allocation per line) and the index keeps a pointer and a length
// per line (16 bytes). The index is a list of blocks of a few thousand entries, so
// appending never moves the whole index and an edit in the middle moves one block.
//
// A line the user edited is stored again as code-page bytes when the code page holds every
// character of it; otherwise it goes to a side store of strings, so typed characters
// outside the code page are shown as typed (and saved as '?'). The chunk bytes of a
// replaced line are not reclaimed before Clear(): edits are few, received lines many.
//
// Character positions are UTF-16 code units of the line as shown: for a code-page line
// they equal byte offsets.
//
// Threads: no locking; the pane that owns the store uses it on the user-interface thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class TLineStore {
public:
    TLineStore() = default;
    TLineStore(const TLineStore&) = delete;
    TLineStore& operator=(const TLineStore&) = delete;

    // Copies n code-page bytes as a new last line.
    void Append(const char* bytes, std::size_t n) {
        TLineRef ref{StoreBytes(bytes, n), n};
        if (fBlocks.empty() || fBlocks.back().size() >= kBlockLines) AddBlock();
        fBlocks.back().push_back(ref);
        ++fCount;
        fTextBytes += n;
        if (static_cast<qsizetype>(n) > fLongest) fLongest = static_cast<qsizetype>(n);
    }
    void Append(const QString& text);
    void Clear();

    qsizetype Count() const { return fCount; }
    // Length of a line in characters (UTF-16 code units).
    qsizetype Length(qsizetype line) const;
    QString Text(qsizetype line) const;
    // Characters [from, from + count) of a line, clipped to the line.
    QString Mid(qsizetype line, qsizetype from, qsizetype count) const;
    // The bytes of a code-page line, pointing into the store; empty for a side-store line
    // (check IsCodePageLine first).
    bool IsCodePageLine(qsizetype line) const;
    std::string_view Bytes(qsizetype line) const;
    // The line as saved: Windows-1252, '?' for what the code page cannot hold.
    QByteArray SavedBytes(qsizetype line) const;

    // Replaces `removeCount` lines from `first` on by `lines`.
    void Replace(qsizetype first, qsizetype removeCount, const QStringList& lines);

    // Length of the longest line in characters that the store has held since the last
    // Clear(): a scroll range that does not shrink while the user deletes.
    qsizetype LongestLine() const { return fLongest; }
    // Characters held by all lines.
    std::uint64_t TextSize() const { return fTextBytes; }
    // Bytes held by the chunks, the index and the side store (for statistics).
    std::uint64_t AllocatedBytes() const;

private:
    static constexpr std::size_t kChunkBytes = std::size_t(1) << 20;
    static constexpr std::size_t kBlockLines = 4096;
    // Set in TLineRef::size for a line kept in the side store; the rest is its index there.
    static constexpr std::uint64_t kSideFlag = std::uint64_t(1) << 63;

    struct TLineRef {
        const char* data;
        std::uint64_t size;
    };
    using TBlock = std::vector<TLineRef>;

    char* StoreBytes(const char* bytes, std::size_t n) {
        if (n == 0) return nullptr;
        char* at;
        if (n <= fChunkFree) {
            at = fChunkNext;
            fChunkNext += n;
            fChunkFree -= n;
        } else {
            at = NewSpace(n);
        }
        std::memcpy(at, bytes, n);
        return at;
    }
    // Room for n bytes that do not fit in the current chunk: a new chunk, or one of their
    // own for a long line (so that a long line never wastes the rest of a chunk).
    char* NewSpace(std::size_t n);
    void AddBlock();
    TLineRef MakeRef(const QString& text);
    void ReleaseRef(const TLineRef& ref);
    const TLineRef& Ref(qsizetype line) const;
    // Block holding a line, and the line's offset in it.
    std::pair<std::size_t, std::size_t> Locate(qsizetype line) const;
    void RebuildBlockStarts();
    static bool IsSide(const TLineRef& ref) { return (ref.size & kSideFlag) != 0; }

    std::vector<std::unique_ptr<char[]>> fChunks;
    std::uint64_t fChunkBytes = 0;
    char* fChunkNext = nullptr;
    std::size_t fChunkFree = 0;

    std::vector<TBlock> fBlocks;
    // First line of each block; kept in step with fBlocks.
    std::vector<qsizetype> fBlockStart;
    qsizetype fCount = 0;

    std::vector<QString> fSide;
    std::vector<std::uint64_t> fSideFree;

    std::uint64_t fTextBytes = 0;
    qsizetype fLongest = 0;
};
