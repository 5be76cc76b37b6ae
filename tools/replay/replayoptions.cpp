#include "replayoptions.h"

#include "replayerror.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <utility>

namespace {

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

std::uint64_t ParseCount(const std::string& option, const std::string& text, std::uint64_t minimum = 1) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < minimum)
        throw TUsageError(option + ": " + Quoted(text) + " is not a whole number" +
                          (minimum > 0 ? " of at least " + std::to_string(minimum) : std::string()));
    return value;
}

unsigned ParseUnsigned(const std::string& option, const std::string& text, std::uint64_t minimum = 1) {
    const std::uint64_t value = ParseCount(option, text, minimum);
    if (value > std::numeric_limits<unsigned>::max())
        throw TUsageError(option + ": " + Quoted(text) + " is too large");
    return static_cast<unsigned>(value);
}

double ParseSeconds(const std::string& option, const std::string& text, bool allowZero) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0 || (!allowZero && value == 0) || value > 1e9)
        throw TUsageError(option + ": " + Quoted(text) + " is not a number of seconds" +
                          (allowZero ? "" : " above 0"));
    return value;
}

// "COM201" (any letter case) -> 201; 0 when `text` is not a port name.
unsigned PortNumberOf(const std::string& text) {
    if (text.size() < 4 || (text[0] != 'C' && text[0] != 'c') || (text[1] != 'O' && text[1] != 'o') ||
        (text[2] != 'M' && text[2] != 'm') || text[3] == '0')
        return 0;
    unsigned number = 0;
    const auto [end, error] = std::from_chars(text.data() + 3, text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number > 65535) return 0;
    return number;
}

// Splits "A:B" at the first colon; throws when there is none.
std::pair<std::string, std::string> SplitPair(const std::string& option, const std::string& text,
                                              const char* shape) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        throw TUsageError(option + ": " + Quoted(text) + " is not of the form " + shape);
    return {text.substr(0, colon), text.substr(colon + 1)};
}

TChannelOptions ParsePort(const std::string& text) {
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos)
        throw TUsageError("--port: " + Quoted(text) + " is not of the form COMn:BAUD:FILE");
    TChannelOptions channel;
    const std::string name = text.substr(0, first);
    channel.PortNumber = PortNumberOf(name);
    if (channel.PortNumber == 0)
        throw TUsageError("--port: " + Quoted(name) + " is not a port name COM1 ... COM65535");
    channel.PortName = "COM" + std::to_string(channel.PortNumber);
    channel.Baud = ParseUnsigned("--port " + channel.PortName + " baud rate",
                                 text.substr(first + 1, second - first - 1));
    channel.RecordingPath = text.substr(second + 1);
    if (channel.RecordingPath.empty())
        throw TUsageError("--port: " + Quoted(text) + " names no recording file");
    return channel;
}

// A fault option's value may start with "COMn:" to aim it at one channel.
std::pair<std::string, std::string> SplitTarget(const std::string& text) {
    const auto colon = text.find(':');
    if (colon != std::string::npos && PortNumberOf(text.substr(0, colon)) != 0)
        return {"COM" + std::to_string(PortNumberOf(text.substr(0, colon))), text.substr(colon + 1)};
    return {std::string(), text};
}

} // namespace

TReplayOptions ParseReplayOptions(const std::vector<std::string>& args) {
    TReplayOptions options;
    struct TTargetedFault {
        std::string Option;
        std::string Target; // empty: every channel
        std::function<void(TFaultPlan&)> Apply;
    };
    std::vector<TTargetedFault> faults;
    std::vector<std::pair<std::string, std::string>> ttys; // (target, device)
    std::optional<double> bitsPerChar;
    bool mapFileGiven = false;

    // Asking for help wins over whatever else the command line holds.
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
            return options;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::optional<std::string> inlineValue;
        if (option.starts_with("--") && option.find('=') != std::string::npos) {
            inlineValue = option.substr(option.find('=') + 1);
            option.erase(option.find('='));
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw TUsageError("option " + option + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (inlineValue) throw TUsageError("option " + option + " takes no value");
            return true;
        };
        auto fault = [&](std::function<void(TFaultPlan&)> (*parse)(const std::string&, const std::string&)) {
            const auto [target, text] = SplitTarget(value());
            faults.push_back({option, target, parse(option, text)});
        };

        if (option == "--port") {
            options.Channels.push_back(ParsePort(value()));
        } else if (option == "--tty") {
            const std::string text = value();
            const auto equals = text.find('=');
            if (equals != std::string::npos && PortNumberOf(text.substr(0, equals)) != 0)
                ttys.emplace_back("COM" + std::to_string(PortNumberOf(text.substr(0, equals))),
                                  text.substr(equals + 1));
            else
                ttys.emplace_back(std::string(), text);
            if (ttys.back().second.empty()) throw TUsageError("--tty: " + Quoted(text) + " names no device");
        } else if (option == "--format") {
            options.Format = TLineFormat::Parse(value());
        } else if (option == "--bits-per-char") {
            const std::string text = value();
            double bits = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits);
            if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(bits >= 1) ||
                bits > 64)
                throw TUsageError("--bits-per-char: " + Quoted(text) +
                                  " is not a number of bits from 1 to 64");
            bitsPerChar = bits;
        } else if (option == "--flood") {
            options.Flood = flag();
        } else if (option == "--raw") {
            options.Raw = flag();
        } else if (option == "--hold") {
            options.Hold = flag();
        } else if (option == "--stats") {
            options.Stats = flag();
        } else if (option == "--with-parent") {
            options.WithParent = flag();
        } else if (option == "--loop") {
            const std::string text = value();
            if (text == "forever")
                options.LoopForever = true;
            else
                options.Loops = ParseUnsigned("--loop", text);
        } else if (option == "--duration") {
            options.DurationSeconds = ParseSeconds(option, value(), false);
        } else if (option == "--linger") {
            options.LingerSeconds = ParseSeconds(option, value(), true);
        } else if (option == "--map-file") {
            options.MapFile = value();
            mapFileGiven = true;
        } else if (option == "--no-map-file") {
            options.UseMapFile = !flag();
        } else if (option == "--settings-file") {
            options.SettingsFile = value();
        } else if (option == "--ready-file") {
            options.ReadyFile = value();
        } else if (option == "--corrupt-checksum") {
            fault([](const std::string& name, const std::string& text) -> std::function<void(TFaultPlan&)> {
                const unsigned every = ParseUnsigned(name, text);
                return [every](TFaultPlan& plan) { plan.CorruptEvery = every; };
            });
        } else if (option == "--burst") {
            fault([](const std::string& name, const std::string& text) -> std::function<void(TFaultPlan&)> {
                const auto [every, count] = SplitPair(name, text, "EVERY:COUNT");
                const unsigned e = ParseUnsigned(name + " EVERY", every);
                const unsigned c = ParseUnsigned(name + " COUNT", count);
                return [e, c](TFaultPlan& plan) {
                    plan.BurstEvery = e;
                    plan.BurstCount = c;
                };
            });
        } else if (option == "--pause") {
            fault([](const std::string& name, const std::string& text) -> std::function<void(TFaultPlan&)> {
                const auto [after, seconds] = SplitPair(name, text, "AFTER:SECONDS");
                const unsigned a = ParseUnsigned(name + " AFTER", after);
                const double s = ParseSeconds(name + " SECONDS", seconds, false);
                return [a, s](TFaultPlan& plan) {
                    plan.PauseAfter = a;
                    plan.PauseSeconds = s;
                };
            });
        } else if (option == "--hangup") {
            fault([](const std::string& name, const std::string& text) -> std::function<void(TFaultPlan&)> {
                const bool bytes = text.ends_with("bytes");
                const std::uint64_t after = ParseCount(name, bytes ? text.substr(0, text.size() - 5) : text);
                return [after, bytes](TFaultPlan& plan) {
                    plan.HangupAfter = after;
                    plan.HangupInBytes = bytes;
                };
            });
        } else if (option == "--reopen") {
            fault([](const std::string& name, const std::string& text) -> std::function<void(TFaultPlan&)> {
                const double seconds = ParseSeconds(name, text, true);
                return [seconds](TFaultPlan& plan) { plan.ReopenSeconds = seconds; };
            });
        } else if (option == "--hangups") {
            fault([](const std::string& name, const std::string& text) -> std::function<void(TFaultPlan&)> {
                const unsigned limit = ParseUnsigned(name, text);
                return [limit](TFaultPlan& plan) { plan.HangupLimit = limit; };
            });
        } else if (option.starts_with("-")) {
            throw TUsageError("unknown option " + Quoted(option));
        } else {
            throw TUsageError("unexpected argument " + Quoted(option) + " (channels are given with --port)");
        }
    }
    if (options.Channels.empty())
        throw TUsageError("no channel to serve: give at least one --port COMn:BAUD:FILE");
    std::set<std::string> names;
    for (const auto& channel : options.Channels)
        if (!names.insert(channel.PortName).second)
            throw TUsageError("--port: " + channel.PortName + " is given twice");
    auto channelNamed = [&](const std::string& option, const std::string& name) -> TChannelOptions& {
        for (auto& channel : options.Channels)
            if (channel.PortName == name) return channel;
        throw TUsageError(option + ": " + name + " is not one of the --port channels");
    };

    for (const auto& [target, device] : ttys) {
        if (target.empty() && options.Channels.size() != 1)
            throw TUsageError("--tty: with several channels, say which one: --tty COMn=" + device);
        TChannelOptions& channel = target.empty() ? options.Channels.front() : channelNamed("--tty", target);
        channel.TtyPath = device;
    }
    // Faults aimed at every channel first, so that one aimed at a single channel wins.
    for (const auto& fault : faults)
        if (fault.Target.empty())
            for (auto& channel : options.Channels)
                fault.Apply(channel.Faults);
    for (const auto& fault : faults)
        if (!fault.Target.empty()) fault.Apply(channelNamed(fault.Option, fault.Target).Faults);
    for (const auto& channel : options.Channels) {
        const TFaultPlan& plan = channel.Faults;
        if ((plan.ReopenSeconds || plan.HangupLimit) && plan.HangupAfter == 0)
            throw TUsageError(channel.PortName + ": --reopen and --hangups need --hangup");
    }

    if (mapFileGiven && !options.UseMapFile)
        throw TUsageError("--map-file and --no-map-file exclude each other");
    if (mapFileGiven && options.MapFile.empty()) throw TUsageError("--map-file: the path is empty");
    options.BitsPerChar = bitsPerChar.value_or(options.Format.BitsPerChar());
    return options;
}

std::string ReplayHelpText() {
    return R"(Usage: brisemer-replay [OPTION]... --port COMn:BAUD:FILE [--port COMn:BAUD:FILE]...

Replays NMEA 0183 and AIS recordings into pseudo-terminals at the pace of a real serial
line, so that programs can be tested without a GPS receiver or an AIS transponder. Each
channel gets a new pseudo-terminal; its slave device is entered in the serial-port map
as "COMn = /dev/pts/N" for as long as the tool runs.

Channels:
  --port COMn:BAUD:FILE   serve the recording FILE as port COMn at BAUD baud; repeat for
                          more channels (the first is the GPS channel and the second the
                          AIS channel of --settings-file)
  --tty [COMn=]DEVICE     serve COMn on the existing terminal DEVICE instead of a new
                          pseudo-terminal (raw mode, BAUD and --format are set on it);
                          "COMn=" may be left out when there is one channel

Pacing:
  --format FRAME          character frame: 8N1 (default), 7E1, 8N2, 8O1, 8N1.5 ... (data
                          bits 5-8, parity N/O/E/M/S, stop bits 1, 1.5 or 2); sets the
                          bit times per character and the settings file's values
  --bits-per-char BITS    bit times one character takes on the wire (default from
                          --format: 10 for 8N1); bytes go out at BAUD / BITS per second
  --flood                 send as fast as the reader takes the bytes
  --raw                   send the files' bytes exactly as they are; otherwise lines
                          starting with '#' and blank lines are left out, every line
                          ends with CR LF and binary UBX frames pass through untouched
  --loop N|forever        play each recording N times (default 1)
  --duration SECONDS      stop sending after this time
  --hold                  make the ports, then wait for SIGUSR1 before sending
  --linger SECONDS        at the end, wait at most this long for readers to take the
                          bytes still queued (default 2; not after a signal)

Faults (a value may start with "COMn:" to aim the fault at that channel only):
  --corrupt-checksum N    alter the checksum of every Nth sentence that has one
  --burst EVERY:COUNT     after every EVERY sentences, send the next COUNT sentences at
                          once, as fast as the reader takes them
  --pause AFTER:SECONDS   after AFTER sentences, send nothing for SECONDS (once)
  --hangup AFTER          close the device after AFTER sentences, or after AFTER bytes
                          when written "AFTERbytes" (counted from when the device was
                          made): readers see a hang-up, the map entry is removed and,
                          without --reopen, the channel ends there
  --reopen SECONDS        after a hang-up, make a new device SECONDS later, enter it in
                          the map and print its line; the hang-up then repeats on the
                          new device (a --tty channel reopens the same terminal)
  --hangups COUNT         hang up at most COUNT times, then keep sending (default: no
                          limit)

Files and output:
  --map-file PATH         serial-port map to edit (default: $XDG_CONFIG_HOME/serialcomm/
                          ports, or ~/.config/serialcomm/ports); other lines stay as they
                          are and a line this tool replaced is put back when it ends
  --no-map-file           leave every map file alone
  --settings-file PATH    write the sections "ComPort GPS" and "ComPort AIS" of the
                          program's settings file for the first two channels (other
                          lines are kept)
  --ready-file PATH       write the "COMn=DEVICE" lines there once every device exists,
                          keep it up to date and remove it at the end
  --stats                 print what each channel sent when the tool ends
  --with-parent           end as on SIGTERM when the process that started the tool ends
                          (a test that crashes leaves no replay running)
  -h, --help              show this text

Standard output (one line each, flushed at once):
  COMn=DEVICE             the channel's device exists and its map entry is written
  ready                   every channel is set up (map, settings and ready files written)
  COMn hangup             the channel's device was closed by --hangup
  stats COMn bytes=B lines=L sentences=S corrupted=C hangups=H
                          with --stats, at the end: bytes written to the device, lines
                          and sentences written whole, checksums altered, hang-ups
                          (bytes still queued when a device is hung up are lost, as on
                          a real unplug)

The tool ends when every recording has played, when --duration runs out, or on SIGINT,
SIGTERM or SIGHUP; it always removes its map entries and ready file. Exit status: 0 on
success (ended by a signal included), 1 when a file or device fails, 2 for a bad
command line.

Example:
  brisemer-replay --port COM201:4800:gps.log --port COM202:38400:ais.aivdm --loop forever
)";
}
