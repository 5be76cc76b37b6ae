#include "aisreassembler.h"

namespace {

// 6-bit value of an armoured payload character, -1 outside the armour ('0'-'W', '`'-'w').
int SixBits(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 48 && u <= 87) return u - 48;
    if (u >= 96 && u <= 119) return u - 56;
    return -1;
}

bool Armoured(std::string_view payload) {
    for (char c : payload)
        if (SixBits(c) < 0) return false;
    return true;
}

// A one-digit field 1-9, else 0.
int Digit(std::string_view field) {
    if (field.size() != 1 || field[0] < '1' || field[0] > '9') return 0;
    return field[0] - '0';
}

// Splits off the next comma-separated field.
std::string_view NextField(std::string_view& rest, bool& more) {
    const auto comma = rest.find(',');
    std::string_view field = rest.substr(0, comma);
    more = comma != std::string_view::npos;
    rest = more ? rest.substr(comma + 1) : std::string_view();
    return field;
}

} // namespace

bool TAisReassembler::IsAisKey(std::string_view key) {
    return key.size() == 5 && key[2] == 'V' && key[3] == 'D' && (key[4] == 'M' || key[4] == 'O');
}

void TAisReassembler::Sentence(std::string_view key, std::string_view fields, std::int64_t time) {
    ++fFigures.Fragments;
    Expire(time);

    std::string_view rest = fields;
    bool more = true;
    const int count = Digit(NextField(rest, more));
    const int number = more ? Digit(NextField(rest, more)) : 0;
    const std::string_view id = more ? NextField(rest, more) : std::string_view();
    const std::string_view channel = more ? NextField(rest, more) : std::string_view();
    const bool hasPayload = more;
    const std::string_view payload = more ? NextField(rest, more) : std::string_view();
    const bool ownShip = key.size() == 5 && key[4] == 'O';

    const bool armoured = Armoured(payload);
    if (!armoured) ++fFigures.ArmourErrors;
    if (count == 0 || number == 0 || number > count || !hasPayload) {
        // Not a fragment that could belong anywhere: a group of its own, broken.
        ++fFigures.Incomplete;
        return;
    }
    if (count == 1) {
        if (armoured && !payload.empty())
            Completed(payload, ownShip);
        else
            ++fFigures.Incomplete;
        return;
    }

    std::string groupKey;
    groupKey.reserve(key.size() + id.size() + channel.size() + 4);
    groupKey.append(key).append(1, '|').append(1, char('0' + count)).append(1, '|');
    groupKey.append(id).append(1, '|').append(channel);

    auto group = fPending.begin();
    while (group != fPending.end() && group->Key != groupKey) ++group;

    if (number == 1) {
        // A new message on the same id: whatever was waiting there is lost.
        if (group != fPending.end()) Dropped(group);
        if (fPending.size() >= kMaxPending) Dropped(fPending.begin());
        fPending.push_back(TGroup{std::move(groupKey), count, 0, false, ownShip, time, {}});
        group = std::prev(fPending.end());
    } else if (group == fPending.end()) {
        // Its first fragment never came: one broken group absorbs the rest of it.
        if (fPending.size() >= kMaxPending) Dropped(fPending.begin());
        fPending.push_back(TGroup{std::move(groupKey), count, number - 1, true, ownShip, time, {}});
        group = std::prev(fPending.end());
    }

    if (number != group->Received + 1) group->Broken = true;
    group->Received = number;
    if (!armoured) group->Broken = true;
    if (!group->Broken) group->Payload.append(payload);

    if (number == count) {
        if (group->Broken)
            ++fFigures.Incomplete;
        else
            Completed(group->Payload, group->OwnShip);
        fPending.erase(group);
    }
    fFigures.Pending = fPending.size();
}

void TAisReassembler::Expire(std::int64_t time) {
    if (time == kNoTime) return;
    while (!fPending.empty() && fPending.front().Started != kNoTime &&
           time - fPending.front().Started > kGroupTimeout)
        Dropped(fPending.begin());
    fFigures.Pending = fPending.size();
}

void TAisReassembler::Finish() {
    while (!fPending.empty()) Dropped(fPending.begin());
    fFigures.Pending = 0;
}

void TAisReassembler::Reset() {
    fPending.clear();
    fMmsi.clear();
    fFigures = TAisFigures{};
}

void TAisReassembler::Dropped(std::list<TGroup>::iterator group) {
    ++fFigures.Incomplete;
    fPending.erase(group);
    fFigures.Pending = fPending.size();
}

void TAisReassembler::Completed(std::string_view payload, bool ownShip) {
    ++fFigures.Complete;
    if (ownShip) ++fFigures.OwnShip;
    const int type = payload.empty() ? -1 : SixBits(payload[0]);
    if (type >= 1 && type <= 27)
        ++fFigures.Types[static_cast<std::size_t>(type)];
    else
        ++fFigures.TypeOutOfRange;
    // The MMSI: 30 bits after the 6-bit type and the 2-bit repeat indicator.
    if (payload.size() < 7) return;
    std::uint64_t bits = 0;
    for (int i = 0; i < 7; ++i) bits = (bits << 6) | static_cast<std::uint64_t>(SixBits(payload[i]));
    const auto mmsi = static_cast<std::uint32_t>((bits >> 4) & 0x3FFFFFFF);
    // Most messages come from ships already seen: one lookup, no insertion.
    if (fMmsi.contains(mmsi)) return;
    if (fMmsi.size() >= kMaxMmsi) {
        fFigures.MmsiCapped = true;
        return;
    }
    fMmsi.insert(mmsi);
    fFigures.DistinctMmsi = fMmsi.size();
}
