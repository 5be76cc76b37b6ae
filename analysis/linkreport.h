// What the figures of a link analysis say, in the words and tables that the analysis
// window, its CSV export and brisemer-analyse all show. Texts are French, in UTF-8.
//
//   Diagnosis(figures, channel)   plain-words verdicts, worst first; "Liaison saine" when
//                                 nothing is wrong
//   SentenceHealthy(figures)      the ✔ (true) or ✖ (false) of a sentence key's row
//   CsvTable(figures)             header "sentence,count,checksum_ok,checksum_bad,
//                                 checksum_missing,rate_hz,mean_interval_s,
//                                 worst_interval_s,last_line", one row per key, the row
//                                 "(other)", then "AIS type N" rows for the types seen
//   TextTable(figures, channel)   the same as an aligned text table with a summary
//   FrenchNumber(value, decimals) "3,2"
//
// Threads: plain functions.
#pragma once

#include "linkanalysis.h"

#include <string>
#include <vector>

enum class TChannelKind { ckUnknown, ckGps, ckAis };

// Seconds without any byte after which the diagnosis says the link is silent.
inline constexpr double kSilentAfterS = 5.0;

std::vector<std::string> Diagnosis(const TLinkFigures& figures, TChannelKind channel);
bool SentenceHealthy(const TSentenceFigures& figures);
std::string CsvTable(const TLinkFigures& figures);
std::string TextTable(const TLinkFigures& figures, TChannelKind channel);
std::string FrenchNumber(double value, int decimals);
// "GPS", "AIS" or "" for an unknown channel.
const char* ChannelName(TChannelKind channel);
