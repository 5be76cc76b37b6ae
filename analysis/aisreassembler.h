// TAisReassembler: puts multi-part AIS messages (!xxVDM / !xxVDO) back together and keeps
// what a technician wants to know about the AIS traffic of one channel.
//
//   Sentence(key, fields, time)   one AIS sentence whose checksum was not found false;
//                                 `fields` are the comma-separated fields after the address
//                                 (fragment count, fragment number, sequential id, radio
//                                 channel, payload, fill bits), without the checksum.
//   Expire(time)                  groups waiting longer than kGroupTimeout become incomplete.
//   Finish()                      the input has ended: every waiting group is incomplete.
//
// A group is known by its sentence key, fragment count, sequential id and radio channel.
// Fragment 1 opens it, the following numbers must come in order; the last one completes
// it. A fragment out of order, a repeated number, a bad field or a payload character
// outside the 6-bit armour breaks the group: it counts once as incomplete, when its last
// fragment arrives, when a new fragment 1 replaces it, or when it times out. A fragment
// with no group to join (its start was lost) opens a broken group of its own, so a lost
// first fragment costs one incomplete group, not one per fragment.
//
// Memory is bounded: at most kMaxPending groups wait (the oldest one beyond that is
// dropped as incomplete), and at most kMaxMmsi distinct MMSIs are remembered.
//
// Times are microseconds on any steady clock; kNoTime means "unknown" (nothing expires).
//
// Threads: none of its own; one owner thread calls everything.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_set>

struct TAisFigures {
    std::uint64_t Fragments = 0;        // AIS sentences seen (checksum not false)
    std::uint64_t Complete = 0;         // messages reassembled whole
    std::uint64_t Incomplete = 0;       // groups broken, timed out, dropped or malformed
    std::uint64_t Pending = 0;          // groups still waiting for fragments
    std::uint64_t OwnShip = 0;          // complete messages from VDO sentences
    std::uint64_t ArmourErrors = 0;     // fragments whose payload is not 6-bit armour
    std::uint64_t TypeOutOfRange = 0;   // complete messages of type 0 or above 27
    std::uint64_t DistinctMmsi = 0;     // distinct MMSIs of complete messages
    bool MmsiCapped = false;            // more MMSIs than were remembered
    std::array<std::uint64_t, 28> Types{}; // Types[n]: complete messages of type n (1-27)
};

class TAisReassembler {
public:
    static constexpr std::int64_t kNoTime = INT64_MIN;
    static constexpr std::int64_t kGroupTimeout = 10'000'000; // 10 s
    static constexpr std::size_t kMaxPending = 1000;
    static constexpr std::size_t kMaxMmsi = 100'000;

    // True for sentence keys of AIS encapsulation: two talker characters and VDM or VDO.
    static bool IsAisKey(std::string_view key);

    void Sentence(std::string_view key, std::string_view fields, std::int64_t time);
    void Expire(std::int64_t time);
    void Finish();
    void Reset();

    const TAisFigures& Figures() const { return fFigures; }

private:
    struct TGroup {
        std::string Key;      // sentence key, count, id and channel joined
        int Count = 0;
        int Received = 0;     // fragments taken so far, in order
        bool Broken = false;
        bool OwnShip = false;
        std::int64_t Started = kNoTime;
        std::string Payload;  // armoured payload of the fragments taken so far
    };

    void Completed(std::string_view payload, bool ownShip);
    void Dropped(std::list<TGroup>::iterator group);

    // Waiting groups, oldest first (few at a time: a linear search is cheap).
    std::list<TGroup> fPending;
    std::unordered_set<std::uint32_t> fMmsi;
    TAisFigures fFigures;
};
