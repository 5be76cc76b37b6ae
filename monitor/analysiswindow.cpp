#include "analysiswindow.h"

#include "linkreport.h"
#include "receivetap.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

enum TColumn { cKey, cState, cCount, cOk, cBad, cMissing, cRate, cMean, cWorst, cAge, cLine, cColumns };

const char* const kHeads[cColumns] = {"Phrase",   "État",          "Nombre",         "Somme OK",
                                      "Fausse",   "Absente",       "Débit Hz",       "Interv. moyen s",
                                      "Pire interv. s", "Vue il y a s", "Dernière ligne"};

const QColor kGood(200, 240, 200);
const QColor kBad(245, 190, 190);

// A cell that sorts by its number (kept in Qt::UserRole), not by its French text.
class TNumberItem : public QTableWidgetItem {
public:
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant mine = data(Qt::UserRole), theirs = other.data(Qt::UserRole);
        if (mine.isValid() && theirs.isValid()) return mine.toDouble() < theirs.toDouble();
        return QTableWidgetItem::operator<(other);
    }
};

QTableWidgetItem* Cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new TNumberItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (column != cKey && column != cLine) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (column == cState) item->setTextAlignment(Qt::AlignCenter);
        table->setItem(row, column, item);
    }
    return item;
}

void SetCount(QTableWidget* table, int row, int column, std::uint64_t value) {
    QTableWidgetItem* item = Cell(table, row, column);
    item->setText(QString::number(value));
    item->setData(Qt::UserRole, static_cast<double>(value));
}

void SetFigure(QTableWidget* table, int row, int column, const std::optional<double>& value, int decimals) {
    QTableWidgetItem* item = Cell(table, row, column);
    item->setText(value ? QString::fromStdString(FrenchNumber(*value, decimals)) : QStringLiteral("-"));
    item->setData(Qt::UserRole, value ? *value : -1.0);
}

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TAnalysisWindow::TAnalysisWindow(TReceiveTap& gps, TReceiveTap& ais, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("AnalysisWindow"));
    setWindowTitle(QStringLiteral("Analyse de la liaison"));
    resize(1100, 480);
    fChannels[0].Tap = &gps;
    fChannels[0].Name = "GPS";
    fChannels[1].Tap = &ais;
    fChannels[1].Name = "AIS";

    fTabs = new QTabWidget(this);
    fTabs->setObjectName(QStringLiteral("analysisTabs"));
    for (TChannelTab& channel : fChannels) fTabs->addTab(MakeTab(channel), QString::fromLatin1(channel.Name));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fTabs);

    fTimer = new QTimer(this);
    fTimer->setInterval(kRefreshMs);
    connect(fTimer, &QTimer::timeout, this, &TAnalysisWindow::Refresh);
}

QWidget* TAnalysisWindow::MakeTab(TChannelTab& channel) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("analysisTab") + QString::fromLatin1(channel.Name));
    auto* layout = new QVBoxLayout(page);
    channel.Summary = new QLabel(page);
    channel.Summary->setWordWrap(true);
    layout->addWidget(channel.Summary);

    channel.Table = new QTableWidget(0, cColumns, page);
    channel.Table->setObjectName(QStringLiteral("analysisTable") + QString::fromLatin1(channel.Name));
    QStringList heads;
    for (const char* head : kHeads) heads << QString::fromUtf8(head);
    channel.Table->setHorizontalHeaderLabels(heads);
    channel.Table->verticalHeader()->hide();
    channel.Table->setWordWrap(false);
    channel.Table->setSortingEnabled(true);
    channel.Table->sortByColumn(cKey, Qt::AscendingOrder);
    channel.Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    channel.Table->horizontalHeader()->setStretchLastSection(true);
    channel.Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    channel.Table->horizontalHeader()->setSectionResizeMode(cLine, QHeaderView::Stretch);
    layout->addWidget(channel.Table, 1);

    channel.Ais = new QLabel(page);
    channel.Ais->setWordWrap(true);
    layout->addWidget(channel.Ais);
    channel.Diagnosis = new QLabel(page);
    channel.Diagnosis->setObjectName(QStringLiteral("analysisDiagnosis") + QString::fromLatin1(channel.Name));
    channel.Diagnosis->setTextFormat(Qt::PlainText);
    layout->addWidget(channel.Diagnosis);

    auto* buttons = new QHBoxLayout;
    channel.Reset = new QPushButton(QStringLiteral("Remettre à zéro"), page);
    channel.Export = new QPushButton(QStringLiteral("Exporter…"), page);
    buttons->addStretch(1);
    buttons->addWidget(channel.Reset);
    buttons->addWidget(channel.Export);
    layout->addLayout(buttons);

    const int index = static_cast<int>(&channel - fChannels);
    connect(channel.Reset, &QPushButton::clicked, this, [this, &channel] {
        channel.Tap->Analysis().Reset();
        RefreshChannel(channel);
    });
    connect(channel.Export, &QPushButton::clicked, this, [this, index] { AskExport(index); });
    return page;
}

void TAnalysisWindow::ShowChannel(int channel) {
    fTabs->setCurrentIndex(channel);
    show();
    raise();
    activateWindow();
}

void TAnalysisWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    fTimer->start();
}

void TAnalysisWindow::hideEvent(QHideEvent* event) {
    fTimer->stop();
    QWidget::hideEvent(event);
}

void TAnalysisWindow::Refresh() {
    ++fRefreshes;
    for (TChannelTab& channel : fChannels) RefreshChannel(channel);
}

void TAnalysisWindow::RefreshChannel(TChannelTab& channel) {
    const std::int64_t now = TReceiveTap::SteadyMicros();
    const TLinkFigures f = channel.Tap->Analysis().Figures(now);
    const TChannelKind kind = &channel == &fChannels[0] ? TChannelKind::ckGps : TChannelKind::ckAis;

    QString summary = QStringLiteral("%1 octets, %2 lignes (CR LF %3, CR %4, LF seul %5), %6 octets non imprimables, "
                                     "%7 lignes de plus de 82 caractères")
                          .arg(f.Bytes).arg(f.Lines).arg(f.LinesCrLf).arg(f.LinesCr).arg(f.LinesLf)
                          .arg(f.NonPrintable).arg(f.LongLines);
    if (f.LongestSilenceS)
        summary += QStringLiteral(" ; plus long silence entre deux lignes : %1 s")
                       .arg(Utf8(FrenchNumber(*f.LongestSilenceS, 3)));
    const TLineErrorFigures& e = f.LineErrors;
    summary += QStringLiteral(" ; erreurs de ligne : trame %1, parité %2, débordement %3, break %4")
                   .arg(e.Framing).arg(e.Parity).arg(e.Overrun).arg(e.Break);
    channel.Summary->setText(summary);

    std::vector<const TSentenceFigures*> rows;
    for (const TSentenceFigures& key : f.Keys) rows.push_back(&key);
    if (f.Other.Count > 0) rows.push_back(&f.Other);
    QTableWidget* table = channel.Table;
    // Filled with sorting off, so rows do not move while their cells change.
    table->setSortingEnabled(false);
    table->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const TSentenceFigures& key = *rows[static_cast<std::size_t>(row)];
        Cell(table, row, cKey)->setText(Utf8(key.Key));
        SetCount(table, row, cCount, key.Count);
        SetCount(table, row, cOk, key.ChecksumOk);
        SetCount(table, row, cBad, key.ChecksumBad);
        SetCount(table, row, cMissing, key.ChecksumMissing);
        SetFigure(table, row, cRate, key.RateHz, 2);
        SetFigure(table, row, cMean, key.MeanIntervalS, 3);
        SetFigure(table, row, cWorst, key.WorstIntervalS, 3);
        std::optional<double> age;
        if (key.LastSeen != TLinkAnalysis::kNoTime) age = static_cast<double>(now - key.LastSeen) / 1e6;
        SetFigure(table, row, cAge, age, 1);
        const bool healthy = SentenceHealthy(key);
        QTableWidgetItem* state = Cell(table, row, cState);
        state->setText(healthy ? QStringLiteral("✔") : QStringLiteral("✖"));
        state->setData(Qt::UserRole, healthy ? 1.0 : 0.0);
        state->setBackground(healthy ? kGood : kBad);
        state->setToolTip(healthy ? QStringLiteral("Sommes de contrôle justes") : QStringLiteral("Sommes de contrôle fausses"));
        Cell(table, row, cBad)->setBackground(key.ChecksumBad > 0 ? kBad : QBrush());
        QString line = Utf8(key.LastLine);
        for (QChar& c : line)
            if (c.unicode() < 0x20 || c.unicode() > 0x7E) c = QLatin1Char('.');
        Cell(table, row, cLine)->setText(line);
    }
    table->setSortingEnabled(true);

    const TAisFigures& ais = f.Ais;
    if (ais.Fragments > 0) {
        QString types;
        for (std::size_t type = 1; type < ais.Types.size(); ++type)
            if (ais.Types[type] > 0) types += QStringLiteral(" %1:%2").arg(type).arg(ais.Types[type]);
        channel.Ais->setText(QStringLiteral("AIS : %1 fragments, %2 messages complets, %3 incomplets, %4 en attente, "
                                            "%5 du propre navire (VDO), %6 MMSI distincts, %7 erreurs de codage. "
                                            "Types (type:nombre) :%8")
                                 .arg(ais.Fragments).arg(ais.Complete).arg(ais.Incomplete).arg(ais.Pending)
                                 .arg(ais.OwnShip).arg(ais.DistinctMmsi).arg(ais.ArmourErrors).arg(types));
        channel.Ais->show();
    } else {
        channel.Ais->hide();
    }

    const std::vector<std::string> verdicts = ::Diagnosis(f, kind);
    QStringList lines;
    for (const std::string& verdict : verdicts) lines << QStringLiteral("• ") + Utf8(verdict);
    channel.Diagnosis->setText(lines.join(QLatin1Char('\n')));
    const bool sound = verdicts.size() == 1 && verdicts.front() == "Liaison saine";
    QPalette palette = channel.Diagnosis->palette();
    palette.setColor(QPalette::WindowText, sound ? QColor(0, 110, 0) : QColor(160, 0, 0));
    channel.Diagnosis->setPalette(palette);
}

bool TAnalysisWindow::ExportTo(int channel, const QString& path, QString* reason) {
    const TLinkFigures f = fChannels[channel].Tap->Analysis().Figures(TReceiveTap::SteadyMicros());
    const std::string csv = CsvTable(f);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv.data(), static_cast<qint64>(csv.size())) < 0 ||
        !file.commit()) {
        if (reason) *reason = file.errorString();
        return false;
    }
    return true;
}

void TAnalysisWindow::AskExport(int channel) {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Exporter l'analyse %1").arg(QString::fromLatin1(fChannels[channel].Name)),
        QStringLiteral("analyse-%1.csv").arg(QString::fromLatin1(fChannels[channel].Name).toLower()),
        QStringLiteral("Fichiers CSV (*.csv)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty()) return;
    QString reason;
    if (!ExportTo(channel, path, &reason))
        QMessageBox::warning(this, QStringLiteral("Exporter"),
                             QStringLiteral("Impossible d'écrire « %1 » : %2").arg(path, reason));
}
