#include "memopane.h"

#include "memopanelayout.h"
#include "panescrollbar.h"
#include "platform/nrerror.h"

#include <QFile>
#include <cerrno>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

// The pane's construction, its content and saving. The view (catching up with appended
// lines, painting, scrolling) is in memopaneview.cpp, the user's editing in memopaneedit.cpp.

using namespace memopanelayout;

TMemoPane::TMemoPane(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBar(new TPaneScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new TPaneScrollBar(Qt::Horizontal, this));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(13);
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    UpdateMetrics();
    UpdateScrollBars();
}

TMemoPane::~TMemoPane() = default;

// ---- content ----

void TMemoPane::AppendLine(const char* bytes, std::size_t n) {
    fLines.Append(bytes, n);
    if (!fRefreshPending) ScheduleRefresh();
}

void TMemoPane::AppendLine(const QString& text) {
    fLines.Append(text);
    if (!fRefreshPending) ScheduleRefresh();
}

void TMemoPane::ClearState() {
    fLines.Clear();
    fCaret = fAnchor = TPosition{};
    fDesiredColumn = -1;
    fUndo.clear();
    fWidestSeen = 0;
    fCountAtRefresh = 0;
}

void TMemoPane::Clear() {
    ClearState();
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void TMemoPane::SetText(const QString& text) {
    ClearState();
    if (!text.isEmpty())
        for (const QString& line : SplitLines(text))
            fLines.Append(line);
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QString TMemoPane::Line(qsizetype index) const {
    return fLines.Text(index);
}

QString TMemoPane::Text() const {
    QString text;
    for (qsizetype i = 0; i < fLines.Count(); ++i) {
        if (i > 0) text += QStringLiteral("\r\n");
        text += fLines.Text(i);
    }
    return text;
}

QByteArray TMemoPane::SaveBytes() const {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(fLines.TextSize()) + 2 * fLines.Count());
    for (qsizetype i = 0; i < fLines.Count(); ++i) {
        if (fLines.IsCodePageLine(i)) {
            const std::string_view line = fLines.Bytes(i);
            bytes.append(line.data(), static_cast<qsizetype>(line.size()));
        } else {
            bytes.append(fLines.SavedBytes(i));
        }
        bytes.append("\r\n", 2);
    }
    return bytes;
}

bool TMemoPane::SaveToFile(const QString& path, QString* errorText) const {
    // Plain POSIX calls: the errno of a failed write (a full disk) is the reason to show.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    auto fail = [&](int error) {
        if (errorText) *errorText = SysErrorMessage(static_cast<std::uint32_t>(error));
        return false;
    };
    if (fd < 0) return fail(errno);
    auto writeAll = [fd](const char* bytes, std::size_t size) {
        while (size > 0) {
            const ssize_t written = ::write(fd, bytes, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    };
    // The lines are gathered straight from the store into one buffer, never copied whole.
    constexpr std::size_t kBufferBytes = std::size_t(1) << 20;
    std::vector<char> buffer;
    buffer.reserve(kBufferBytes);
    auto flush = [&]() {
        const bool ok = writeAll(buffer.data(), buffer.size());
        buffer.clear();
        return ok;
    };
    auto put = [&](const char* bytes, std::size_t size) {
        if (buffer.size() + size > kBufferBytes) {
            if (!flush()) return false;
            if (size > kBufferBytes) // a long line goes out directly
                return writeAll(bytes, size);
        }
        buffer.insert(buffer.end(), bytes, bytes + size);
        return true;
    };
    bool ok = true;
    for (qsizetype i = 0; ok && i < fLines.Count(); ++i) {
        if (fLines.IsCodePageLine(i)) {
            const std::string_view line = fLines.Bytes(i);
            ok = put(line.data(), line.size());
        } else {
            const QByteArray line = fLines.SavedBytes(i);
            ok = put(line.constData(), static_cast<std::size_t>(line.size()));
        }
        ok = ok && put("\r\n", 2);
    }
    ok = ok && flush();
    const int writeError = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) return fail(errno);
    return ok ? true : fail(writeError);
}
