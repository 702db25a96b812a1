// Tests of what the .NET binding adds over the native library: marshalling
// of every array and result, feeds of any length and offset, the lock around
// the one parser, and the argument checks made before native code runs.
// Usage: mono zelkolink_dotnet_test.exe SAMPLE_PORT_STREAM.bin
using System;
using System.IO;
using System.Threading;
using ZelkoLink;

internal static class ZelkoLinkTests
{
    private static int checks;
    private static int failures;

    private static void Check(bool condition, string what)
    {
        checks++;
        if (!condition)
        {
            failures++;
            Console.WriteLine("failed: " + what);
        }
    }

    private static void Throws<T>(Action action, string what) where T : Exception
    {
        try
        {
            action();
        }
        catch (Exception error)
        {
            Check(error.GetType() == typeof(T) && error.Message.Length > 0,
                  what + ": threw " + error.GetType().Name + " (" + error.Message + "), wanted " + typeof(T).Name);
            return;
        }
        Check(false, what + ": threw nothing, wanted " + typeof(T).Name);
    }

    private static string Hex(byte[] bytes)
    {
        return BitConverter.ToString(bytes).Replace("-", " ");
    }

    private static bool Same(ushort[] a, ushort[] b)
    {
        if (a.Length != b.Length)
        {
            return false;
        }
        for (var i = 0; i < a.Length; i++)
        {
            if (a[i] != b[i])
            {
                return false;
            }
        }
        return true;
    }

    private static ushort[] Repeat(ushort value, int count)
    {
        var values = new ushort[count];
        for (var i = 0; i < count; i++)
        {
            values[i] = value;
        }
        return values;
    }

    // An upload frame with a kind 2 record: every input and channel = value.
    private static byte[] Kind2Frame(ushort value)
    {
        var frame = new byte[4 + 95 + 1];
        frame[0] = 0xFA;
        frame[1] = 0xA5;
        frame[2] = 95;
        frame[4] = 2;
        for (var i = 0; i < 9; i++)
        {
            frame[5 + 2 * i] = (byte)value;
            frame[6 + 2 * i] = (byte)(value >> 8);
        }
        for (var i = 0; i < 32; i++)
        {
            frame[35 + 2 * i] = (byte)value;
            frame[36 + 2 * i] = (byte)(value >> 8);
        }
        frame[99] = 0x5F;
        return frame;
    }

    private static void Frames()
    {
        Check(Hex(PortLink.RequestFrame(0x01, 0x02)) == "FA E5 02 00 01 02 5F", "request frame");
        Check(Hex(PortLink.RequestFrame()) == "FA E5 02 00 00 00 5F", "request frame, default payload");
        Check(Hex(PortLink.StopFrame()) == "FA E4 00 00 5F", "stop frame");
        var buffer = new byte[9];
        for (var i = 0; i < buffer.Length; i++)
        {
            buffer[i] = 0xAA;
        }
        PortLink.RequestFrame(buffer, 3, 4);
        Check(Hex(buffer) == "FA E5 02 00 03 04 5F AA AA", "request frame into a longer buffer leaves the rest");
        PortLink.StopFrame(buffer);
        Check(Hex(buffer) == "FA E4 00 00 5F 04 5F AA AA", "stop frame into a longer buffer leaves the rest");
        Throws<ArgumentException>(() => PortLink.RequestFrame(new byte[6], 0, 0), "6-byte request buffer");
        Throws<ArgumentException>(() => PortLink.StopFrame(new byte[4]), "4-byte stop buffer");
        Throws<ArgumentNullException>(() => PortLink.RequestFrame(null, 0, 0), "null request buffer");
        Throws<ArgumentNullException>(() => PortLink.StopFrame(null), "null stop buffer");
    }

    // Every read size hands the same bytes to the parser, so the records at
    // the end are the same; the last frame decides them.
    private static void Feeds(byte[] sample)
    {
        var stream = new MemoryStream();
        for (var i = 0; i < 6; i++)
        {
            stream.Write(sample, 0, sample.Length);
        }
        var last = Kind2Frame(0x1234);
        stream.Write(last, 0, last.Length);
        var bytes = stream.ToArray();
        Check(bytes.Length > 4096, "the stream needs reads of 4096 bytes and more");

        foreach (var read in new[] { 1, 255, 256, 4096, bytes.Length })
        {
            PortParser.Feed(Kind2Frame(0)); // start from known records
            var completed = false;
            for (var offset = 0; offset < bytes.Length; offset += read)
            {
                completed |= PortParser.Feed(bytes, offset, Math.Min(read, bytes.Length - offset));
            }
            Check(completed, "reads of " + read + " complete frames");
            Check(Same(PortParser.Inputs, Repeat(0x1234, 9)), "inputs after reads of " + read);
            Check(Same(PortParser.Channels, Repeat(0x1234, 32)), "channels after reads of " + read);
        }

        // Feed honours offset and count: the frame sits in the middle of noise.
        var framed = new byte[300];
        var inner = Kind2Frame(0x0777);
        Buffer.BlockCopy(inner, 0, framed, 100, inner.Length);
        framed[99] = 0xFA; // a start byte just before the range must not be read
        Check(PortParser.Feed(framed, 100, inner.Length), "a frame at an offset completes");
        Check(PortParser.Inputs[8] == 0x0777 && PortParser.Channels[31] == 0x0777, "values of a frame at an offset");
        Check(!PortParser.Feed(framed, 0, 0), "an empty feed completes nothing");
        Check(!PortParser.Feed(new byte[0]), "an empty array completes nothing");

        var copy = PortParser.Inputs;
        copy[0] = 1;
        Check(PortParser.Inputs[0] == 0x0777, "Inputs hands out a copy");

        Throws<ArgumentNullException>(() => PortParser.Feed(null, 0, 0), "feed of null");
        Throws<ArgumentNullException>(() => PortParser.Feed(null), "feed of null array");
        Throws<ArgumentOutOfRangeException>(() => PortParser.Feed(framed, -1, 1), "negative offset");
        Throws<ArgumentOutOfRangeException>(() => PortParser.Feed(framed, 0, -1), "negative count");
        Throws<ArgumentException>(() => PortParser.Feed(framed, 250, 51), "range past the end");
        Throws<ArgumentException>(() => PortParser.Feed(framed, int.MaxValue, 2), "offset past the end");
    }

    // Threads feed frames that straddle a 255-byte piece boundary, each with
    // values of its own. Interleaved pieces would break frames; with the lock
    // every feed completes its frame and the records stay one frame's values.
    // A connection cut at every point of a frame full of start bytes, a
    // reset, and the next connection's frame: exactly its values.
    private static void ResetAfterACut()
    {
        foreach (var length in new[] { 0, 3, 95, 495 })
        {
            var old = new byte[length + 5];
            old[0] = 0xFA;
            old[1] = 0xA5;
            old[2] = (byte)length;
            old[3] = (byte)(length >> 8);
            for (var i = 0; i < length; i++)
            {
                old[4 + i] = (byte)(i % 2 == 0 ? 0xFA : 0x07);
            }
            old[length + 4] = 0x5F;
            for (var cut = 0; cut < old.Length; cut++)
            {
                PortParser.Reset();
                PortParser.Feed(Kind2Frame(0x0101));
                PortParser.Feed(old, 0, cut);
                PortParser.Reset();
                var what = "length " + length + " cut at " + cut;
                Check(PortParser.Inputs[0] == 0x0101, what + ": the reset decoded nothing");
                Check(PortParser.Feed(Kind2Frame(0x0456)), what + ": the next frame completes");
                Check(Same(PortParser.Inputs, Repeat(0x0456, 9)) && Same(PortParser.Channels, Repeat(0x0456, 32)),
                      what + ": exactly the next frame's values");
            }
        }
    }

    private static void ConcurrentFeeds()
    {
        const int threads = 4;
        const int rounds = 3000;
        var failed = 0;
        var start = new ManualResetEvent(false);
        var workers = new Thread[threads];
        for (var t = 0; t < threads; t++)
        {
            var value = (ushort)(0x100 * (t + 1));
            workers[t] = new Thread(() =>
            {
                var data = new byte[200 + 100];
                Buffer.BlockCopy(Kind2Frame(value), 0, data, 200, 100);
                start.WaitOne();
                for (var round = 0; round < rounds; round++)
                {
                    if (!PortParser.Feed(data, 0, data.Length))
                    {
                        Interlocked.Increment(ref failed);
                    }
                }
            });
        }
        foreach (var worker in workers)
        {
            worker.Start();
        }
        start.Set();
        foreach (var worker in workers)
        {
            worker.Join();
        }
        Check(failed == 0, "concurrent feeds each complete their frame (" + failed + " did not)");
        var inputs = PortParser.Inputs;
        var channels = PortParser.Channels;
        Check(inputs[0] % 0x100 == 0 && Same(inputs, Repeat(inputs[0], 9)) && Same(channels, Repeat(inputs[0], 32)),
              "records hold one whole frame after concurrent feeds");
    }

    private static void Reports()
    {
        var game = new byte[19];
        game[6] = 0x21;
        game[7] = 0x43;
        game[8] = 0x65;
        game[16] = 0xEE;
        ushort[] values;
        Check(HidReports.TryDecodeGameController(game, out values) && values.Length == 11 &&
              values[3] == 0x321 && values[4] == 0x654 && values[10] == 0xEE, "game-controller report");

        var compatible = new byte[23];
        compatible[0] = 0xFA;
        compatible[4] = 0x34;
        compatible[5] = 0x12;
        compatible[21] = 0x99;
        Check(HidReports.TryDecodeCompatible(compatible, out values) && values.Length == 9 &&
              values[0] == 0x1234 && values[8] == 0x9900, "compatible report");

        var refused = new[]
        {
            new { Report = new byte[18], Compatible = false },
            new { Report = new byte[20], Compatible = false },
            new { Report = new byte[22], Compatible = true },
            new { Report = new byte[23], Compatible = true }, // no 0xFA first
        };
        foreach (var item in refused)
        {
            values = new ushort[1];
            var decoded = item.Compatible ? HidReports.TryDecodeCompatible(item.Report, out values)
                                          : HidReports.TryDecodeGameController(item.Report, out values);
            Check(!decoded && values == null,
                  (item.Compatible ? "compatible" : "game-controller") + " report of " + item.Report.Length + " bytes is refused");
        }
        Throws<ArgumentNullException>(() => HidReports.TryDecodeGameController(null, out values), "null game-controller report");
        Throws<ArgumentNullException>(() => HidReports.TryDecodeCompatible(null, out values), "null compatible report");
    }

    private static void SbusFrames()
    {
        var standard = Repeat(100, 16);
        standard[15] = 1200;
        var sbus = Sbus.FromStandard(standard);
        Check(sbus.Length == 16 && sbus[0] == 170 && sbus[15] == 2047, "conversion");

        var frame = Sbus.Encode(Repeat(170, 16));
        Check(frame.Length == 25 && Hex(frame).StartsWith("0F AA 50 85") && frame[23] == 0 && frame[24] == 0, "SBUS frame");
        var first = Sbus.Encode(Repeat(170, 16), true)[24];
        var second = Sbus.Encode(Repeat(170, 16), true)[24];
        Check((first & 0x0F) == 0x04 && (second & 0x0F) == 0x04 && second == (byte)((first + 0x10) & 0x3F),
              "SBUS2 end bytes step 04 14 24 34: " + first.ToString("X2") + " then " + second.ToString("X2"));

        var longer = new byte[27];
        longer[25] = 0xAA;
        longer[26] = 0xBB;
        Sbus.Encode(Repeat(2047, 16), longer);
        Check(longer[0] == 0x0F && longer[1] == 0xFF && longer[22] == 0xFF && longer[25] == 0xAA && longer[26] == 0xBB,
              "SBUS frame into a longer buffer leaves the rest");

        Throws<ArgumentException>(() => Sbus.FromStandard(new ushort[15]), "15 standard values");
        Throws<ArgumentException>(() => Sbus.FromStandard(new ushort[17]), "17 standard values");
        Throws<ArgumentNullException>(() => Sbus.FromStandard(null), "null standard values");
        Throws<ArgumentException>(() => Sbus.Encode(new ushort[15]), "15 channels");
        Throws<ArgumentException>(() => Sbus.Encode(new ushort[16], new byte[24]), "24-byte SBUS buffer");
        Throws<ArgumentNullException>(() => Sbus.Encode(null), "null channels");
        Throws<ArgumentNullException>(() => Sbus.Encode(new ushort[16], null), "null SBUS buffer");
    }

    private static int Main(string[] arguments)
    {
        if (arguments.Length != 1)
        {
            Console.Error.WriteLine("usage: zelkolink_dotnet_test.exe SAMPLE_PORT_STREAM.bin");
            return 2;
        }
        Frames();
        Feeds(File.ReadAllBytes(arguments[0]));
        ConcurrentFeeds();
        ResetAfterACut();
        Reports();
        SbusFrames();
        Console.WriteLine((checks - failures) + " passed, " + failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}
