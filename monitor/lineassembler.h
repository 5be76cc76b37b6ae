// TLineAssembler: one channel's pending line, which received bytes join until a carriage
// return ends it.
//
// Only CR (13) ends a line and is dropped; every other byte, LF and NUL included, joins
// the pending line as it is (the pane turns the bytes into Windows-1252 characters). A
// line may be split over any number of deliveries. Complete lines go to the sink as byte
// ranges; a line that lies whole inside one delivery is handed over straight from the
// delivery's buffer, without a copy.
//
// Threads: owned and fed by the user-interface thread, where the port delivers.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>

class TLineAssembler {
public:
    // Feeds the received bytes in order; sink(const char* bytes, std::size_t n) gets every
    // line that a carriage return completes, without the CR.
    template <class Sink> void Feed(const std::uint8_t* data, std::size_t size, Sink&& sink) {
        const char* p = reinterpret_cast<const char*>(data);
        const char* end = p + size;
        while (p < end) {
            const char* cr =
                static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
            if (!cr) {
                fPending.append(p, end - p);
                return;
            }
            if (fPending.isEmpty()) {
                sink(p, static_cast<std::size_t>(cr - p));
            } else {
                fPending.append(p, cr - p);
                // Emptied even when the sink throws, so a line is never delivered twice;
                // resize keeps the buffer for the next line.
                struct TEmptyPending {
                    QByteArray& pending;
                    ~TEmptyPending() { pending.resize(0); }
                } empty{fPending};
                sink(fPending.constData(), static_cast<std::size_t>(fPending.size()));
            }
            p = cr + 1;
        }
    }

    // The bytes received since the last carriage return.
    const QByteArray& PendingBytes() const { return fPending; }
    // The same as characters of the code page.
    QString PendingText() const;

private:
    QByteArray fPending;
};
