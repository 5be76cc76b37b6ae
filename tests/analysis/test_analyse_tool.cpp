// brisemer-analyse run as users run it, over the recordings. The expected figures were
// obtained once with a short Python script written apart from the analysis: it splits
// each file at CR LF, CR or LF, drops empty and '#' lines, takes the key before the first
// comma of lines starting with '$' or '!', XORs the bytes between the start character and
// the last '*' against the two hex digits after it, and reassembles the AIS fragments by
// (key, count, id, channel).
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int Status = -1;
    QString Out;
    QString Err;
};

TRun Analyse(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(BRISEMER_ANALYSE_EXE), args);
    TRun run;
    if (!process.waitForFinished(60000)) return run;
    run.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString Recording(const char* name) {
    return QStringLiteral(BRISEMER_NMEA_DATA "/") + QLatin1String(name);
}

// The CSV rows as "key,count,ok,bad,missing" (the time columns are empty for recordings).
QStringList Counts(const QString& csv) {
    QStringList rows;
    for (const QString& line : csv.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        rows << line.section(QLatin1Char(','), 0, 4);
    return rows;
}

} // namespace

TEST(AnalyseTool, CsvOfGpsRecordingsHasEveryKeyThenOther) {
    TRun run = Analyse({QStringLiteral("--csv"), Recording("haicom-305N.log")});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.startsWith(QStringLiteral("sentence,count,checksum_ok,checksum_bad,checksum_missing,")));
    EXPECT_EQ(Counts(run.Out), QStringList({
                                   "sentence,count,checksum_ok,checksum_bad,checksum_missing",
                                   "GPGGA,73,73,0,0",
                                   "GPGSA,26,26,0,0",
                                   "GPGSV,79,79,0,0",
                                   "GPRMC,74,74,0,0",
                                   "GPVTG,73,73,0,0",
                                   "(other),0,0,0,0",
                               }));

    // Binary UBX frames between the sentences: one GNRMC without checksum, one line of
    // binary that is no sentence.
    run = Analyse({QStringLiteral("--csv"), QStringLiteral("--channel"), QStringLiteral("gps"),
                   Recording("ublox-8.log")});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    const QStringList rows = Counts(run.Out);
    EXPECT_TRUE(rows.contains(QStringLiteral("GNRMC,72,71,0,1")));
    EXPECT_TRUE(rows.contains(QStringLiteral("GPGSV,288,288,0,0")));
    EXPECT_TRUE(rows.contains(QStringLiteral("(other),1,0,0,0")));
    EXPECT_EQ(rows.size(), 1 + 8 + 1);
}

TEST(AnalyseTool, AisRecordingGivesChecksumsTypesAndDiagnosis) {
    TRun run = Analyse({QStringLiteral("--csv"), Recording("sample.aivdm")});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_EQ(Counts(run.Out).mid(0, 4), QStringList({"sentence,count,checksum_ok,checksum_bad,checksum_missing",
                                                      "AIVDM,115,108,7,0", "AIVDO,3,2,1,0", "(other),1,0,0,0"}));
    // Complete messages per type.
    const int expected[28] = {0, 4, 1, 1, 4, 3, 13, 3, 16, 2, 1, 0, 7, 1, 3, 2, 2, 1, 3, 1, 5, 1, 3, 1, 7, 3, 5, 2};
    QStringList types;
    for (int type = 1; type <= 27; ++type)
        if (expected[type] > 0) types << QStringLiteral("AIS type %1,%2,,,").arg(type).arg(expected[type]);
    EXPECT_EQ(Counts(run.Out).mid(4), types);

    run = Analyse({Recording("sample.aivdm")});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.contains(QStringLiteral("95 messages complets, 1 incomplets")));
    EXPECT_TRUE(run.Out.contains(QStringLiteral("81 MMSI distincts")));
    EXPECT_TRUE(run.Out.contains(QStringLiteral("6,8 % de sommes de contrôle fausses"))); // 8 / 118
    EXPECT_TRUE(run.Out.contains(QStringLiteral("Fragments AIS incomplets : 1")));
}

TEST(AnalyseTool, BadCommandLinesAndMissingFilesFailClearly) {
    TRun run = Analyse({QStringLiteral("/nonexistent/capture.log")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("cannot read /nonexistent/capture.log: No such file or directory")))
        << run.Err.toStdString();
    run = Analyse({QStringLiteral("--channel"), QStringLiteral("radar"), Recording("hemi.log")});
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("'radar' is neither gps nor ais")));
    run = Analyse({QStringLiteral("--frobnicate")});
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Err.contains(QStringLiteral("unknown option '--frobnicate'")));
    EXPECT_EQ(Analyse({}).Status, 2);
}
