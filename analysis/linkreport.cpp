#include "linkreport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Optional(const std::optional<double>& value, int decimals) {
    return value ? Fixed(*value, decimals) : std::string();
}

std::string FrenchOptional(const std::optional<double>& value, int decimals) {
    return value ? FrenchNumber(*value, decimals) : std::string("-");
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// Characters of a UTF-8 text, for aligning columns.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Non-printable bytes of a last line are shown as '.', so a table never carries binary.
std::string Printable(const std::string& line) {
    std::string shown = line;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '.';
    return shown;
}

bool HasPositionKey(const TLinkFigures& figures) {
    for (const TSentenceFigures& key : figures.Keys) {
        if (key.Key.size() != 5) continue;
        const std::string type = key.Key.substr(2);
        if (type == "GGA" || type == "RMC" || type == "GLL") return true;
    }
    return false;
}

} // namespace

std::string FrenchNumber(double value, int decimals) {
    std::string text = Fixed(value, decimals);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

const char* ChannelName(TChannelKind channel) {
    switch (channel) {
    case TChannelKind::ckGps: return "GPS";
    case TChannelKind::ckAis: return "AIS";
    case TChannelKind::ckUnknown: break;
    }
    return "";
}

bool SentenceHealthy(const TSentenceFigures& figures) {
    return figures.ChecksumBad == 0;
}

std::vector<std::string> Diagnosis(const TLinkFigures& figures, TChannelKind channel) {
    std::vector<std::string> said;
    if (figures.Bytes == 0) {
        said.push_back("Aucune donnée reçue");
        return said;
    }
    if (figures.Now != TLinkAnalysis::kNoTime && figures.LastByte != TLinkAnalysis::kNoTime) {
        const double quiet = static_cast<double>(figures.Now - figures.LastByte) / 1e6;
        if (quiet >= kSilentAfterS)
            said.push_back("Aucune donnée depuis " + Number(static_cast<std::uint64_t>(quiet)) + " s");
    }
    const TLineErrorFigures& errors = figures.LineErrors;
    if (errors.Total() > 0)
        said.push_back("Erreurs signalées par le port : trame " + Number(errors.Framing) + ", parité " +
                       Number(errors.Parity) + ", débordement " + Number(errors.Overrun) + ", break " +
                       Number(errors.Break));
    // A few stray bytes happen on any line; more than one in a hundred is a wrong speed,
    // parity or frame.
    if (figures.NonPrintable * 100 > figures.Bytes)
        said.push_back("Octets non imprimables : vitesse ou parité incorrecte ?");
    if (figures.Lines == 0) said.push_back("Aucune fin de ligne reçue : vitesse incorrecte ?");

    std::uint64_t ok = figures.Other.ChecksumOk, bad = figures.Other.ChecksumBad,
                  missing = figures.Other.ChecksumMissing;
    for (const TSentenceFigures& key : figures.Keys) {
        ok += key.ChecksumOk;
        bad += key.ChecksumBad;
        missing += key.ChecksumMissing;
    }
    if (bad > 0)
        said.push_back(FrenchNumber(100.0 * static_cast<double>(bad) / static_cast<double>(ok + bad), 1) +
                       " % de sommes de contrôle fausses");
    if (missing > 0) said.push_back("Phrases sans somme de contrôle : " + Number(missing));
    if (figures.LinesLf > 0) said.push_back("Lignes terminées par LF seul : les volets attendent un CR");
    if (figures.LongLines > 0) said.push_back("Lignes de plus de 82 caractères : " + Number(figures.LongLines));
    if (figures.Ais.Incomplete > 0) said.push_back("Fragments AIS incomplets : " + Number(figures.Ais.Incomplete));
    if (figures.Ais.ArmourErrors > 0)
        said.push_back("Charge utile AIS mal codée : " + Number(figures.Ais.ArmourErrors));
    if (channel == TChannelKind::ckGps && figures.Lines > 0 && !HasPositionKey(figures))
        said.push_back("Aucune phrase de position (GGA, RMC ou GLL)");
    if (channel == TChannelKind::ckAis && figures.Lines > 0 && figures.Ais.Fragments == 0)
        said.push_back("Aucun message AIS (VDM ou VDO)");
    if (said.empty()) said.push_back("Liaison saine");
    return said;
}

std::string CsvTable(const TLinkFigures& figures) {
    std::string out = "sentence,count,checksum_ok,checksum_bad,checksum_missing,rate_hz,mean_interval_s,"
                      "worst_interval_s,last_line\n";
    auto row = [&out](const TSentenceFigures& key) {
        out += CsvField(key.Key) + ',' + Number(key.Count) + ',' + Number(key.ChecksumOk) + ',' +
               Number(key.ChecksumBad) + ',' + Number(key.ChecksumMissing) + ',' + Optional(key.RateHz, 3) + ',' +
               Optional(key.MeanIntervalS, 3) + ',' + Optional(key.WorstIntervalS, 3) + ',' +
               CsvField(Printable(key.LastLine)) + '\n';
    };
    for (const TSentenceFigures& key : figures.Keys) row(key);
    row(figures.Other);
    for (std::size_t type = 1; type < figures.Ais.Types.size(); ++type)
        if (figures.Ais.Types[type] > 0)
            out += "AIS type " + Number(type) + ',' + Number(figures.Ais.Types[type]) + ",,,,,,,\n";
    return out;
}

std::string TextTable(const TLinkFigures& figures, TChannelKind channel) {
    std::string out;
    const std::string name = ChannelName(channel);
    out += (name.empty() ? std::string("Canal") : "Canal " + name) + " : " + Number(figures.Bytes) + " octets, " +
           Number(figures.Lines) + " lignes (CR LF " + Number(figures.LinesCrLf) + ", CR " +
           Number(figures.LinesCr) + ", LF " + Number(figures.LinesLf) + "), " + Number(figures.NonPrintable) +
           " octets non imprimables, " + Number(figures.LongLines) + " lignes de plus de 82 caractères\n";
    if (figures.LongestSilenceS)
        out += "Plus long silence entre deux lignes : " + FrenchNumber(*figures.LongestSilenceS, 3) + " s\n";

    const std::vector<std::string> heads = {"Phrase", "Nombre", "Somme OK", "Fausse", "Absente",
                                            "Débit Hz", "Interv. moyen s", "Pire interv. s", "État"};
    std::vector<std::vector<std::string>> rows;
    auto add = [&rows](const TSentenceFigures& key) {
        rows.push_back({key.Key, Number(key.Count), Number(key.ChecksumOk), Number(key.ChecksumBad),
                        Number(key.ChecksumMissing), FrenchOptional(key.RateHz, 2),
                        FrenchOptional(key.MeanIntervalS, 3), FrenchOptional(key.WorstIntervalS, 3),
                        SentenceHealthy(key) ? "✔" : "✖"});
    };
    for (const TSentenceFigures& key : figures.Keys) add(key);
    if (figures.Other.Count > 0) add(figures.Other);
    std::vector<std::size_t> widths;
    for (const std::string& head : heads) widths.push_back(Width(head));
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::string pad(widths[i] - Width(cells[i]), ' ');
            out += i == 0 ? cells[i] + pad : pad + cells[i];
            out += i + 1 < cells.size() ? "  " : "\n";
        }
    };
    line(heads);
    for (const auto& row : rows) line(row);

    const TAisFigures& ais = figures.Ais;
    if (ais.Fragments > 0) {
        out += "AIS : " + Number(ais.Fragments) + " fragments, " + Number(ais.Complete) + " messages complets, " +
               Number(ais.Incomplete) + " incomplets, " + Number(ais.Pending) + " en attente, " +
               Number(ais.OwnShip) + " du propre navire (VDO), " + Number(ais.DistinctMmsi) +
               (ais.MmsiCapped ? " MMSI distincts au moins, " : " MMSI distincts, ") +
               Number(ais.ArmourErrors) + " erreurs de codage\n";
        std::string types;
        for (std::size_t type = 1; type < ais.Types.size(); ++type)
            if (ais.Types[type] > 0) types += ' ' + Number(type) + ':' + Number(ais.Types[type]);
        if (!types.empty()) out += "Types de message AIS (type:nombre) :" + types + '\n';
    }
    const TLineErrorFigures& errors = figures.LineErrors;
    if (errors.Total() > 0)
        out += "Erreurs de ligne : trame " + Number(errors.Framing) + ", parité " + Number(errors.Parity) +
               ", débordement " + Number(errors.Overrun) + ", break " + Number(errors.Break) + '\n';
    out += "Diagnostic :\n";
    for (const std::string& verdict : Diagnosis(figures, channel)) out += "  " + verdict + '\n';
    return out;
}
