// The link analysis on small crafted inputs whose figures are worked out by hand in the
// comments, and on bad input that must be counted without harm.
#include "capturestamp.h"
#include "linkanalysis.h"
#include "linkanalysisworker.h"
#include "linkreport.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>

namespace {

constexpr std::int64_t kSecond = 1'000'000;

// "$BODY*HH": the checksum computed here, independently of the analysis.
std::string Sentence(const std::string& start, const std::string& body) {
    unsigned char sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    static const char hex[] = "0123456789ABCDEF";
    return start + body + '*' + hex[sum >> 4] + hex[sum & 15];
}

const TSentenceFigures* Key(const TLinkFigures& figures, const std::string& key) {
    for (const TSentenceFigures& k : figures.Keys)
        if (k.Key == key) return &k;
    return nullptr;
}

bool Says(const TLinkFigures& figures, TChannelKind channel, const std::string& text) {
    for (const std::string& line : Diagnosis(figures, channel))
        if (line == text) return true;
    return false;
}

// A type 1 position report (MMSI 366053209) in 28 armoured characters.
const std::string kPosition = "15M67FC000G?ufbE`FepT@3n00Sa";

} // namespace

// Line ends CR, LF and CR LF, with the LF of a CR LF in the next delivery; empty lines
// are not lines; the end of input counts the last line.
TEST(LinkAnalysisFraming, EveryLineEndCountsOnceWhereverTheDeliveriesSplitIt) {
    TLinkAnalysis a;
    const std::string gga = Sentence("$", "GPGGA,1");
    a.Feed(gga + "\r", 0);          // GPGGA, its LF comes later
    a.Feed("\n$GPRMC,2\rabc\n", 0); // CR LF done; GPRMC ended by CR; abc by LF
    a.Feed("\r\n\n\nx", 0);         // empty lines only; x is pending
    a.EndOfInput();
    const TLinkFigures f = a.Figures(TLinkAnalysis::kNoTime);
    EXPECT_EQ(f.Lines, 4u);
    EXPECT_EQ(f.LinesCrLf, 1u);
    EXPECT_EQ(f.LinesCr, 1u);
    EXPECT_EQ(f.LinesLf, 1u);
    EXPECT_EQ(f.LinesUnended, 1u);
    EXPECT_EQ(f.Bytes, gga.size() + 1 + 14 + 5);
    ASSERT_NE(Key(f, "GPGGA"), nullptr);
    EXPECT_EQ(Key(f, "GPGGA")->ChecksumOk, 1u);
    ASSERT_NE(Key(f, "GPRMC"), nullptr);
    EXPECT_EQ(Key(f, "GPRMC")->ChecksumMissing, 1u);
    EXPECT_EQ(f.Other.Count, 2u); // abc and x
    EXPECT_TRUE(Says(f, TChannelKind::ckUnknown, "Lignes terminées par LF seul : les volets attendent un CR"));
}

// Lower-case hex is good, bad hex or a wrong count of digits is false, a '*' inside a
// field is part of the sum, an empty or unreadable address is no key.
TEST(LinkAnalysisChecksums, EachKindOfChecksumFieldIsJudgedByTheXorBeforeTheLastStar) {
    TLinkAnalysis a;
    const std::string lower = "$GPGSA,M,3*3c"; // XOR of GPGSA,M,3 is 0x3C
    const std::string inside = Sentence("$", "GPTXT,a*b,c");
    std::string wrong = Sentence("$", "GPVTG,1");
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    const std::string lines[] = {
        lower, inside, wrong, "$GPVTG,1*G1", "$GPVTG,1*1", Sentence("!", "AIVDM"), // key without comma
        Sentence("$", ",1,2"), Sentence("$", "GP GGA,1"), "$", "",
    };
    for (const std::string& line : lines) a.Feed(line + "\r\n", 0);
    const TLinkFigures f = a.Figures(0);
    ASSERT_NE(Key(f, "GPGSA"), nullptr);
    EXPECT_EQ(Key(f, "GPGSA")->ChecksumOk, 1u);
    ASSERT_NE(Key(f, "GPTXT"), nullptr);
    EXPECT_EQ(Key(f, "GPTXT")->ChecksumOk, 1u);
    ASSERT_NE(Key(f, "GPVTG"), nullptr);
    EXPECT_EQ(Key(f, "GPVTG")->Count, 3u);
    EXPECT_EQ(Key(f, "GPVTG")->ChecksumBad, 3u);
    EXPECT_FALSE(SentenceHealthy(*Key(f, "GPVTG")));
    ASSERT_NE(Key(f, "AIVDM"), nullptr);
    EXPECT_EQ(Key(f, "AIVDM")->ChecksumOk, 1u);
    EXPECT_EQ(f.Keys.size(), 4u);
    // ",1,2", "GP GGA" and "$" alone: sentences without a key, under (other).
    EXPECT_EQ(f.Other.Count, 3u);
    EXPECT_EQ(f.Other.ChecksumOk, 2u);
    EXPECT_EQ(f.Other.ChecksumMissing, 1u);
    EXPECT_EQ(f.Sentences, 6u);
    // 3 false against 3 good under keys and 2 good in (other): 3 / 8 = 37,5 %.
    EXPECT_TRUE(Says(f, TChannelKind::ckUnknown, "37,5 % de sommes de contrôle fausses"));
}

// GPGGA at 0, 1, 2 and 3.5 s and once 20 s before: rate over the last 10 s at 3.5 s is
// (4 - 1) / 3.5 s = 0.857 Hz; mean interval (3.5 + 20) / 4 = 5.875 s, worst 20 s; the
// longest silence is the 20 s between the first line and the next byte.
TEST(LinkAnalysisTimes, RatesIntervalsSilencesAndTheSilentLinkComeFromTheArrivalTimes) {
    TLinkAnalysis a;
    const std::string gga = Sentence("$", "GPGGA,1") + "\r\n";
    for (std::int64_t t : {-20 * kSecond, 0 * kSecond, 1 * kSecond, 2 * kSecond}) a.Feed(gga, t);
    a.Feed(gga.substr(0, 5), 3 * kSecond);  // the last one starts at 3 s
    a.Feed(gga.substr(5), 3'500'000);       // and ends at 3.5 s
    TLinkFigures f = a.Figures(3'500'000);
    const TSentenceFigures* k = Key(f, "GPGGA");
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->RateHz && k->MeanIntervalS && k->WorstIntervalS);
    EXPECT_NEAR(*k->RateHz, 3.0 / 3.5, 1e-9);
    EXPECT_NEAR(*k->MeanIntervalS, 5.875, 1e-9);
    EXPECT_NEAR(*k->WorstIntervalS, 20.0, 1e-9);
    EXPECT_EQ(k->LastSeen, 3'500'000);
    ASSERT_TRUE(f.LongestSilenceS);
    EXPECT_NEAR(*f.LongestSilenceS, 20.0, 1e-9);
    EXPECT_TRUE(Says(f, TChannelKind::ckGps, "Liaison saine"));

    f = a.Figures(15'600'000);
    EXPECT_FALSE(Key(f, "GPGGA")->RateHz) << "nothing in the last 10 s";
    EXPECT_TRUE(Says(f, TChannelKind::ckGps, "Aucune donnée depuis 12 s"));

    a.Reset();
    f = a.Figures(0);
    EXPECT_EQ(f.Bytes, 0u);
    EXPECT_TRUE(f.Keys.empty());
    EXPECT_TRUE(Says(f, TChannelKind::ckGps, "Aucune donnée reçue"));
}

// Binary, NUL bytes, a 3 MB line, 300 distinct keys and port errors: all counted, memory
// bounded.
TEST(LinkAnalysisBadInput, GarbageIsCountedAndKeysBeyondTheLimitGoToOther) {
    TLinkAnalysis a;
    std::string huge = "$GPGGA," + std::string(3 * 1024 * 1024, 'A');
    a.Feed(huge + "\r\n", 0);
    const std::uint8_t binary[] = {0xB5, 0x62, 0x01, 0x07, 0x00, 0x00, 0xFF, '\r', '\n'};
    a.Feed(binary, sizeof binary, 0);
    a.Feed(std::string("$GPG\0GA,1\r\n", 11), 0);
    for (int i = 0; i < 300; ++i) a.Feed(Sentence("$", std::string("K").append(std::to_string(i)).append(",1")) + "\r\n", 0);
    a.LineErrors(TLinkAnalysis::leFraming | TLinkAnalysis::leParity);
    a.LineErrors(TLinkAnalysis::leFraming | TLinkAnalysis::leBreak);
    a.LineErrors(TLinkAnalysis::leOverrun);
    const TLinkFigures f = a.Figures(0);
    EXPECT_EQ(f.Keys.size(), TLinkAnalysis::kMaxKeys);
    // The 3 MB line, the binary frame, the NUL sentence and keys 257 to 300.
    EXPECT_EQ(f.Other.Count, 3u + 44u);
    EXPECT_EQ(f.Other.ChecksumOk, 44u);
    EXPECT_EQ(f.LongLines, 1u);
    EXPECT_EQ(f.NonPrintable, 7u); // B5 01 07 00 00 FF, and the NUL
    EXPECT_LE(f.Other.LastLine.size(), TLinkAnalysis::kMaxLastLine);
    EXPECT_EQ(f.LineErrors.Framing, 2u);
    EXPECT_EQ(f.LineErrors.Parity, 1u);
    EXPECT_EQ(f.LineErrors.Overrun, 1u);
    EXPECT_EQ(f.LineErrors.Break, 1u);
    EXPECT_TRUE(Says(f, TChannelKind::ckGps, "Erreurs signalées par le port : trame 2, parité 1, débordement 1, break 1"));
}

// Whole messages of one and two fragments, then every way a group breaks: a lost first
// fragment, fragments out of order, a new start on the same id, counts 0 and 9 not
// matching any group, bad armour, a time-out, and more than 1000 groups waiting.
TEST(AisReassembly, CompleteAndIncompleteGroupsAreCountedOnceEach) {
    TLinkAnalysis a;
    auto send = [&](const std::string& fields, std::int64_t t = 0, const char* key = "AIVDM") {
        a.Feed(Sentence("!", std::string(key) + "," + fields) + "\r\n", t);
    };
    const std::string head = kPosition.substr(0, 13), tail = kPosition.substr(13);
    send("1,1,,B," + kPosition + ",0");                       // complete 1
    send("2,1,3,A," + head + ",0");
    send("2,2,3,A," + tail + ",0");                           // complete 2
    send("1,1,,A," + kPosition + ",0", 0, "AIVDO");           // complete 3, own ship
    send("3,2,4,A,ABC,0");                                    // lost first: incomplete 1
    send("3,3,4,A,ABC,0");
    send("2,1,5,B," + head + ",0");
    send("2,1,5,B," + head + ",0");                           // restarted: incomplete 2
    send("2,2,5,B," + tail + ",0");                           // complete 4
    send("0,1,,A," + kPosition + ",0");                       // incomplete 3
    send("9,2,6,A," + kPosition + ",0");                      // no fragment 1: waits
    send("1,1,,A,1!#,0");                                     // armour: incomplete 4
    send("2,1,7,A," + head + ",0", 0);                        // times out
    send("1,1,,B," + kPosition + ",0", 11 * kSecond);         // complete 5
    const TLinkFigures f = a.Figures(11 * kSecond);
    EXPECT_EQ(f.Ais.Complete, 5u);
    EXPECT_EQ(f.Ais.Types[1], 5u);
    EXPECT_EQ(f.Ais.OwnShip, 1u);
    EXPECT_EQ(f.Ais.DistinctMmsi, 1u);
    EXPECT_EQ(f.Ais.ArmourErrors, 1u);
    // The count-9 group waited 11 s as well: both expired, incomplete 5 and 6.
    EXPECT_EQ(f.Ais.Incomplete, 6u);
    EXPECT_EQ(f.Ais.Pending, 0u);
    EXPECT_TRUE(Says(f, TChannelKind::ckAis, "Fragments AIS incomplets : 6"));

    a.Reset();
    for (int id = 0; id < 1005; ++id) send("2,1," + std::to_string(id) + ",A," + head + ",0");
    TLinkFigures g = a.Figures(0);
    EXPECT_EQ(g.Ais.Pending, TAisReassembler::kMaxPending);
    EXPECT_EQ(g.Ais.Incomplete, 5u);
    a.EndOfInput();
    g = a.Figures(0);
    EXPECT_EQ(g.Ais.Incomplete, 1005u);
}

// The timestamped capture form: a stamp before each line, whatever its end, read back to
// the millisecond. 1 700 000 000.123 s after 1970 is 2023-11-14 22:13:20.123 UTC.
TEST(CaptureStamps, EachLineGetsTheUtcTimeOfItsFirstByte) {
    const std::int64_t t = 1'700'000'000'123'456;
    TCaptureStamper stamper;
    std::string out;
    const std::string first = "$A\r";
    const std::string second = "\n$B\r$C\nD";
    stamper.Stamp(reinterpret_cast<const std::uint8_t*>(first.data()), first.size(), t, out);
    stamper.Stamp(reinterpret_cast<const std::uint8_t*>(second.data()), second.size(), t + kSecond, out);
    EXPECT_EQ(out, "2023-11-14T22:13:20.123Z $A\r\n"
                   "2023-11-14T22:13:21.123Z $B\r"
                   "2023-11-14T22:13:21.123Z $C\n"
                   "2023-11-14T22:13:21.123Z D");
    std::int64_t back = 0;
    EXPECT_EQ(ParseUtcStamp("2023-11-14T22:13:21.123Z $B", back), kUtcStampLength);
    EXPECT_EQ(back, 1'700'000'001'123'000);
    EXPECT_EQ(ParseUtcStamp("2023-13-14T22:13:21.123Z $B", back), 0u);
    EXPECT_EQ(ParseUtcStamp("$GPGGA,2023-11-14T22:13:21", back), 0u);
}

// The worker thread: deliveries queued from one thread while another asks for figures give
// exactly the figures of the analysis fed directly, a delivery larger than the queue's
// bound included.
TEST(LinkAnalysisWorker, QueuedDeliveriesGiveTheFiguresOfTheAnalysisFedDirectly) {
    std::string stream;
    for (const char* name : {"sample.aivdm", "garmin-geko201.log", "ublox-8.log"}) {
        std::ifstream in(std::string(BRISEMER_NMEA_DATA) + "/" + name, std::ios::binary);
        stream.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(stream.size(), 100'000u);
    std::string large;
    while (large.size() <= TLinkAnalysisWorker::kMaxQueued) large += stream;

    TLinkAnalysis direct;
    TLinkAnalysisWorker worker;
    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        std::int64_t time = 0;
        for (std::size_t at = 0, n = 1; at < stream.size(); at += n, n = n * 7 % 4099 + 1) {
            const std::string_view piece = std::string_view(stream).substr(at, n);
            worker.Feed(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size(), time += 1000);
        }
        worker.Feed(reinterpret_cast<const std::uint8_t*>(large.data()), large.size(), time + 1000);
        fed = true;
    });
    std::uint64_t seen = 0;
    while (!fed) {
        const std::uint64_t bytes = worker.Figures(0).Bytes;
        EXPECT_GE(bytes, seen);
        seen = bytes;
    }
    feeder.join();

    std::int64_t time = 0;
    for (std::size_t at = 0, n = 1; at < stream.size(); at += n, n = n * 7 % 4099 + 1)
        direct.Feed(std::string_view(stream).substr(at, n), time += 1000);
    direct.Feed(large, time + 1000);
    const std::int64_t now = time + 2000;
    const TLinkFigures queued = worker.Figures(now), fedDirectly = direct.Figures(now);
    EXPECT_EQ(CsvTable(queued), CsvTable(fedDirectly));
    EXPECT_EQ(TextTable(queued, TChannelKind::ckAis), TextTable(fedDirectly, TChannelKind::ckAis));
    EXPECT_EQ(worker.Figures(now).Bytes, stream.size() + large.size());
    worker.Reset();
    EXPECT_EQ(worker.Figures(now).Bytes, 0u);

    // A port that delivers one byte at a time: the records of the deliveries stay bounded
    // too, the worker thread asleep or not, and no byte is lost.
    for (std::size_t i = 0; i < TLinkAnalysisWorker::kMaxDeliveries + 10; ++i) {
        worker.Feed(reinterpret_cast<const std::uint8_t*>(stream.data() + i % stream.size()), 1, now);
        ASSERT_LT(worker.QueuedDeliveries(), TLinkAnalysisWorker::kMaxDeliveries);
    }
    EXPECT_EQ(worker.Figures(now).Bytes, TLinkAnalysisWorker::kMaxDeliveries + 10);
}
