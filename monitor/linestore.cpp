#include "linestore.h"

#include "nrcodepage.h"

#include <algorithm>

namespace {

// The code-page bytes of text, or false when a character has no byte of its own.
bool EncodeExactly(const QString& text, QByteArray& bytes) {
    bytes.resize(text.size());
    char* out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        const std::uint8_t byte = CharToAnsi(ch);
        if (AnsiToChar(byte) != ch) return false;
        out[i] = static_cast<char>(byte);
    }
    return true;
}

} // namespace

void TLineStore::Append(const QString& text) {
    const TLineRef ref = MakeRef(text);
    if (fBlocks.empty() || fBlocks.back().size() >= kBlockLines) AddBlock();
    fBlocks.back().push_back(ref);
    ++fCount;
}

void TLineStore::Clear() {
    fChunks.clear();
    fChunks.shrink_to_fit();
    fChunkBytes = 0;
    fChunkNext = nullptr;
    fChunkFree = 0;
    fBlocks.clear();
    fBlocks.shrink_to_fit();
    fBlockStart.clear();
    fBlockStart.shrink_to_fit();
    fCount = 0;
    fSide.clear();
    fSide.shrink_to_fit();
    fSideFree.clear();
    fSideFree.shrink_to_fit();
    fTextBytes = 0;
    fLongest = 0;
}

char* TLineStore::NewSpace(std::size_t n) {
    if (n > kChunkBytes / 4) {
        fChunks.emplace_back(new char[n]);
        fChunkBytes += n;
        return fChunks.back().get();
    }
    // new char[] without () leaves the chunk uninitialised: pages not yet written are
    // not resident.
    fChunks.emplace_back(new char[kChunkBytes]);
    fChunkBytes += kChunkBytes;
    char* at = fChunks.back().get();
    fChunkNext = at + n;
    fChunkFree = kChunkBytes - n;
    return at;
}

void TLineStore::AddBlock() {
    fBlockStart.push_back(fCount);
    fBlocks.emplace_back();
    fBlocks.back().reserve(kBlockLines);
}

TLineStore::TLineRef TLineStore::MakeRef(const QString& text) {
    QByteArray bytes;
    if (EncodeExactly(text, bytes)) {
        const std::size_t n = static_cast<std::size_t>(bytes.size());
        fTextBytes += n;
        if (static_cast<qsizetype>(n) > fLongest) fLongest = static_cast<qsizetype>(n);
        return TLineRef{StoreBytes(bytes.constData(), n), n};
    }
    std::uint64_t index;
    if (!fSideFree.empty()) {
        index = fSideFree.back();
        fSideFree.pop_back();
        fSide[index] = text;
    } else {
        index = fSide.size();
        fSide.push_back(text);
    }
    fTextBytes += static_cast<std::uint64_t>(text.size());
    if (text.size() > fLongest) fLongest = text.size();
    return TLineRef{nullptr, kSideFlag | index};
}

void TLineStore::ReleaseRef(const TLineRef& ref) {
    std::uint64_t size;
    if (IsSide(ref)) {
        const std::uint64_t index = ref.size & ~kSideFlag;
        size = static_cast<std::uint64_t>(fSide[index].size());
        fSide[index] = QString();
        fSideFree.push_back(index);
    } else {
        size = ref.size;
    }
    fTextBytes -= size;
}

std::pair<std::size_t, std::size_t> TLineStore::Locate(qsizetype line) const {
    // Blocks are full except after edits, so the first guess is nearly always right.
    std::size_t block = static_cast<std::size_t>(line) / kBlockLines;
    if (block >= fBlocks.size() || fBlockStart[block] > line ||
        line - fBlockStart[block] >= static_cast<qsizetype>(fBlocks[block].size())) {
        const auto it = std::upper_bound(fBlockStart.begin(), fBlockStart.end(), line);
        block = static_cast<std::size_t>(it - fBlockStart.begin()) - 1;
    }
    return {block, static_cast<std::size_t>(line - fBlockStart[block])};
}

const TLineStore::TLineRef& TLineStore::Ref(qsizetype line) const {
    const auto [block, offset] = Locate(line);
    return fBlocks[block][offset];
}

qsizetype TLineStore::Length(qsizetype line) const {
    if (line < 0 || line >= fCount) return 0;
    const TLineRef& ref = Ref(line);
    if (IsSide(ref)) return fSide[ref.size & ~kSideFlag].size();
    return static_cast<qsizetype>(ref.size);
}

QString TLineStore::Text(qsizetype line) const {
    if (line < 0 || line >= fCount) return QString();
    const TLineRef& ref = Ref(line);
    if (IsSide(ref)) return fSide[ref.size & ~kSideFlag];
    return AnsiToUnicode(ref.data, ref.size);
}

QString TLineStore::Mid(qsizetype line, qsizetype from, qsizetype count) const {
    if (line < 0 || line >= fCount || count <= 0) return QString();
    const TLineRef& ref = Ref(line);
    if (IsSide(ref)) return fSide[ref.size & ~kSideFlag].mid(from, count);
    const qsizetype size = static_cast<qsizetype>(ref.size);
    from = std::clamp<qsizetype>(from, 0, size);
    count = std::min(count, size - from);
    return AnsiToUnicode(ref.data + from, static_cast<std::size_t>(count));
}

bool TLineStore::IsCodePageLine(qsizetype line) const {
    return line >= 0 && line < fCount && !IsSide(Ref(line));
}

std::string_view TLineStore::Bytes(qsizetype line) const {
    if (line < 0 || line >= fCount) return {};
    const TLineRef& ref = Ref(line);
    if (IsSide(ref) || ref.size == 0) return {};
    return std::string_view(ref.data, ref.size);
}

QByteArray TLineStore::SavedBytes(qsizetype line) const {
    if (line < 0 || line >= fCount) return QByteArray();
    const TLineRef& ref = Ref(line);
    if (IsSide(ref)) return UnicodeToAnsi(fSide[ref.size & ~kSideFlag]);
    return QByteArray(ref.data, static_cast<qsizetype>(ref.size));
}

void TLineStore::Replace(qsizetype first, qsizetype removeCount, const QStringList& lines) {
    first = std::clamp<qsizetype>(first, 0, fCount);
    removeCount = std::clamp<qsizetype>(removeCount, 0, fCount - first);

    std::vector<TLineRef> added;
    added.reserve(static_cast<std::size_t>(lines.size()));
    for (const QString& line : lines)
        added.push_back(MakeRef(line));

    if (fBlocks.empty()) AddBlock();
    auto [block, offset] =
        first == fCount ? std::pair<std::size_t, std::size_t>{fBlocks.size() - 1, fBlocks.back().size()}
                        : Locate(first);

    // Take the removed lines out, block by block from `block` on.
    qsizetype left = removeCount;
    std::size_t at = block;
    std::size_t from = offset;
    while (left > 0) {
        TBlock& blockLines = fBlocks[at];
        const std::size_t take =
            std::min<std::size_t>(blockLines.size() - from, static_cast<std::size_t>(left));
        for (std::size_t i = from; i < from + take; ++i)
            ReleaseRef(blockLines[i]);
        blockLines.erase(blockLines.begin() + static_cast<std::ptrdiff_t>(from),
                         blockLines.begin() + static_cast<std::ptrdiff_t>(from + take));
        left -= static_cast<qsizetype>(take);
        ++at;
        from = 0;
    }
    fCount -= removeCount;

    // The new lines go where the first removed one was; an overgrown block is split.
    TBlock& target = fBlocks[block];
    target.insert(target.begin() + static_cast<std::ptrdiff_t>(offset), added.begin(), added.end());
    fCount += static_cast<qsizetype>(added.size());
    if (target.size() > 2 * kBlockLines) {
        std::vector<TBlock> pieces;
        for (std::size_t i = 0; i < target.size(); i += kBlockLines) {
            const std::size_t end = std::min(target.size(), i + kBlockLines);
            pieces.emplace_back(target.begin() + static_cast<std::ptrdiff_t>(i),
                                target.begin() + static_cast<std::ptrdiff_t>(end));
        }
        fBlocks.erase(fBlocks.begin() + static_cast<std::ptrdiff_t>(block));
        fBlocks.insert(fBlocks.begin() + static_cast<std::ptrdiff_t>(block),
                       std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    }
    std::erase_if(fBlocks, [](const TBlock& b) { return b.empty(); });
    RebuildBlockStarts();
}

void TLineStore::RebuildBlockStarts() {
    fBlockStart.resize(fBlocks.size());
    qsizetype line = 0;
    for (std::size_t i = 0; i < fBlocks.size(); ++i) {
        fBlockStart[i] = line;
        line += static_cast<qsizetype>(fBlocks[i].size());
    }
}

std::uint64_t TLineStore::AllocatedBytes() const {
    std::uint64_t bytes =
        fChunkBytes + fBlocks.capacity() * sizeof(TBlock) + fBlockStart.capacity() * sizeof(qsizetype);
    for (const TBlock& block : fBlocks)
        bytes += block.capacity() * sizeof(TLineRef);
    for (const QString& text : fSide)
        bytes += static_cast<std::uint64_t>(text.capacity()) * sizeof(QChar);
    return bytes;
}
