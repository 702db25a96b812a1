#include "sim_options.hpp"

#include "arguments.hpp"

namespace zelkolink_sim {

SimOptions parse_sim_options(std::span<const char* const> arguments) {
  using namespace zelkolink_tools;
  SimOptions options;
  bool replay_option_given = false;
  bool made_up_option_given = false;
  for (Arguments args(arguments); !args.done(); args.next()) {
    if (args.flag("-h") || args.flag("--help")) {
      options.help = true;
      return options;
    }
    if (args.flag("--noise")) {
      options.noise = true;
      made_up_option_given = true;
    } else if (args.flag("--echo")) {
      options.echo = true;
    } else if (const auto rate = args.value("--rate", "a number of frames a second")) {
      options.rate = parse_decimal(*rate, "--rate", 0, 1000000);
      made_up_option_given = true;
    } else if (const auto kind = args.value("--kind", "0, 1 or 2")) {
      options.kind = static_cast<int>(parse_whole(*kind, "--kind", 0, 2));
      made_up_option_given = true;
    } else if (const auto corrupt = args.value("--corrupt", "a share of frames")) {
      options.corrupt = parse_decimal(*corrupt, "--corrupt", 0, 1);
      made_up_option_given = true;
    } else if (const auto seed = args.value("--seed", "a number")) {
      options.seed = parse_whole(*seed, "--seed", 0, 1000000000000000);
    } else if (const auto record = args.value("--record", "a FILE")) {
      options.record = std::string(*record);
    } else if (const auto link = args.value("--link", "a PATH")) {
      options.link = std::string(*link);
    } else if (const auto replay = args.value("--replay", "a capture FILE")) {
      options.replay = std::string(*replay);
    } else if (const auto speed = args.value("--speed", "a time scale")) {
      options.speed = parse_decimal(*speed, "--speed", 0, 1000);
      replay_option_given = true;
    } else if (args.flag("--loop")) {
      options.loop = true;
      replay_option_given = true;
    } else if (args.flag("--no-wait")) {
      options.wait_for_request = false;
      replay_option_given = true;
    } else {
      throw args.unknown();
    }
  }
  if (!options.replay && replay_option_given) {
    throw usage_error("--speed, --loop and --no-wait need --replay");
  }
  if (options.replay && made_up_option_given) {
    throw usage_error(
        "--replay plays a capture; --rate, --kind, --noise and --corrupt do not apply");
  }
  return options;
}

const char* sim_help_text() {
  return R"(Usage: zelkolink-sim [--rate HZ] [--kind 0|1|2] [--noise] [--corrupt P]
                     [--echo] [--record FILE] [--link PATH] [--seed N]
       zelkolink-sim --replay CAPTURE [--speed X] [--loop] [--no-wait]
                     [--echo] [--record FILE] [--link PATH]

Simulates a ZelkoLink device on a pseudo-terminal, for developing and testing
host applications without one. Prints the path of the terminal end a host
opens as its serial port (such as /dev/pts/4) on standard output, then
behaves as the device: it waits for an upload request frame
(FA E5 02 00 b0 b1 5F), sends upload-data frames until the stop frame
(FA E4 00 00 5F), then waits for the next request. Frames are written in
randomly sized pieces of 1 to 128 bytes, as a USB serial link delivers them.
Their values move smoothly over 0..2047 (slow sines, one pace per value), so
a watcher sees motion. A host closing its end does not end the simulator;
another host may open it next. Runs until Ctrl-C or SIGTERM.

Every event is logged as one line on standard error: "request 01 00",
"stop", "echo", "ignored: a request while sending".

Options:
  --rate HZ      upload frames a second (default 100), decimals allowed;
                 0 sends as fast as the host reads. Frames are due at fixed
                 times from the request on, so the rate does not drift. A
                 host that stops reading loses frames beyond 64 KiB queued.
  --kind K       the record kind sent: 0 the nine inputs, 1 the thirty-two
                 channels, 2 both (default 2).
  --noise        put up to six stray bytes before frames, now and then a
                 stray 0xFA start byte among them.
  --corrupt P    send a fraction P (0 to 1) of frames with a wrong end byte
                 (5E instead of 5F).
  --echo         echo the host's request frame back before the data, as
                 some adapters do.
  --record FILE  save every byte sent, in order, to FILE, so that
                 zelkolink-dump FILE decodes it offline.
  --link PATH    also make a symlink at PATH to the terminal end, for
                 applications that want a fixed name. A stale symlink there
                 is replaced; any other file is left alone (an error). The
                 symlink is removed on exit.
  --seed N       seed the noise, corruption and piece sizes, for a
                 reproducible run (default: a random seed).
  -h, --help     print this help and exit.

Replaying a capture (instead of made-up frames):
  --replay CAPTURE
                 play the device's reads in CAPTURE, a pcapng capture such
                 as zelkolink-dump --capture writes: each read is one write,
                 at its recorded time from the first read, so the host meets
                 the bytes cut as they were cut. The host's bytes in the
                 capture are not played. Logs "replay ended" at its end.
  --speed X      scale time: 2 plays twice as fast, 0.5 half as fast
                 (default 1); 0 writes each read once the host has read the
                 one before, as fast as the host reads.
  --loop         start again from the first read at the end.
  --no-wait      start at once, instead of at the host's request frame. A
                 host that empties its input when it opens the port (as
                 zelkolink-dump does) misses what came before, as it would
                 from a device already sending.
  A stop frame ends the replay; the next request starts it again from the
  first read.

Values move with the frame number: frame n shows time n / HZ, at --rate 0
n / 100.

Exit status: 0 after Ctrl-C or SIGTERM, 2 for a bad command line or a
--replay file that is not a capture it can play, 3 when the pseudo-terminal,
the --record file or the --link cannot be made, or the --replay file cannot
be opened.
Errors are reported as one line on standard error.
)";
}

}  // namespace zelkolink_sim
