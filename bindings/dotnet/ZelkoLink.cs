// ZelkoLink for .NET: byte-level codecs for a device port link, HID input
// reports and SBUS output, over the native library (ZelkoLink.dll on Windows,
// libZelkoLink.so.1 on Linux, placed beside the program or on the loader's
// path). One file of C# 7.0, so it builds for .NET Framework 4.x,
// .NET Standard 2.0, .NET 6+, Unity and Mono alike.
//
// What it hides from its users:
//   - the result width of the three parse functions: one byte on Windows, a
//     32-bit int on Linux; both declarations exist, one is chosen at start-up;
//   - the calling convention: cdecl on every declaration (.NET's default on
//     32-bit Windows would be stdcall and corrupt the stack on every call);
//   - the process-wide port parser: one static class, its calls serialised
//     by a lock;
//   - buffer sizes: every array is checked before native code touches it.
using System;
using System.Runtime.InteropServices;

namespace ZelkoLink
{
    /// <summary>The two frames the host sends on the device's port link.</summary>
    public static class PortLink
    {
        /// <summary>Bytes in the upload-request frame.</summary>
        public const int RequestFrameSize = 7;

        /// <summary>Bytes in the stop-upload frame.</summary>
        public const int StopFrameSize = 5;

        /// <summary>The 7-byte frame that asks the device to start an upload:
        /// <c>FA E5 02 00 payloadByte0 payloadByte1 5F</c>.</summary>
        /// <param name="payloadByte0">First payload byte, sent as given.</param>
        /// <param name="payloadByte1">Second payload byte, sent as given.</param>
        /// <returns>A new 7-byte array.</returns>
        public static byte[] RequestFrame(byte payloadByte0 = 0, byte payloadByte1 = 0)
        {
            var frame = new byte[RequestFrameSize];
            RequestFrame(frame, payloadByte0, payloadByte1);
            return frame;
        }

        /// <summary>Writes the upload-request frame into bytes 0..6 of
        /// <paramref name="frame"/>, without allocating.</summary>
        /// <param name="frame">At least 7 bytes; bytes from index 7 on are untouched.</param>
        /// <param name="payloadByte0">First payload byte, sent as given.</param>
        /// <param name="payloadByte1">Second payload byte, sent as given.</param>
        /// <exception cref="ArgumentNullException"><paramref name="frame"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="frame"/> is shorter than 7 bytes.</exception>
        public static void RequestFrame(byte[] frame, byte payloadByte0, byte payloadByte1)
        {
            Check.AtLeast(frame, RequestFrameSize, nameof(frame));
            Native.RequestUploadPortData(frame, payloadByte0, payloadByte1);
        }

        /// <summary>The 5-byte frame that ends an upload: <c>FA E4 00 00 5F</c>.</summary>
        /// <returns>A new 5-byte array.</returns>
        public static byte[] StopFrame()
        {
            var frame = new byte[StopFrameSize];
            StopFrame(frame);
            return frame;
        }

        /// <summary>Writes the stop-upload frame into bytes 0..4 of
        /// <paramref name="frame"/>, without allocating.</summary>
        /// <param name="frame">At least 5 bytes; bytes from index 5 on are untouched.</param>
        /// <exception cref="ArgumentNullException"><paramref name="frame"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="frame"/> is shorter than 5 bytes.</exception>
        public static void StopFrame(byte[] frame)
        {
            Check.AtLeast(frame, StopFrameSize, nameof(frame));
            Native.StopUploadPortData(frame);
        }
    }

    /// <summary>The library's parser of the stream the device sends back. The
    /// native parser keeps one process-wide reassembly buffer, so there is one
    /// parser per process, and this class is it: one port stream per process.
    /// Every member is safe to call from any thread; a lock serialises them.</summary>
    public static class PortParser
    {
        /// <summary>Largest piece the native parser takes in one call; longer
        /// reads are handed over in pieces of this size.</summary>
        public const int MaxChunk = 255;

        /// <summary>Values in <see cref="Inputs"/>.</summary>
        public const int InputCount = 9;

        /// <summary>Values in <see cref="Channels"/>.</summary>
        public const int ChannelCount = 32;

        private static readonly object Gate = new object();
        private static readonly byte[] Piece = new byte[MaxChunk];
        private static readonly ushort[] LastInputs = new ushort[InputCount];
        private static readonly ushort[] LastChannels = new ushort[ChannelCount];

        /// <summary>Feeds bytes received from the port, as many as one read
        /// returned, cut anywhere.</summary>
        /// <param name="data">The buffer the read filled.</param>
        /// <param name="offset">Index of the first received byte in <paramref name="data"/>.</param>
        /// <param name="count">Number of received bytes; any length, 0 does nothing.</param>
        /// <returns>True when at least one upload frame completed; then
        /// <see cref="Inputs"/> and <see cref="Channels"/> hold the values decoded.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="data"/> is null.</exception>
        /// <exception cref="ArgumentOutOfRangeException"><paramref name="offset"/> or
        /// <paramref name="count"/> is negative.</exception>
        /// <exception cref="ArgumentException"><paramref name="offset"/> and
        /// <paramref name="count"/> reach past the end of <paramref name="data"/>.</exception>
        public static bool Feed(byte[] data, int offset, int count)
        {
            Check.Range(data, offset, count);
            var completed = false;
            lock (Gate)
            {
                for (var done = 0; done < count; done += MaxChunk)
                {
                    var size = Math.Min(MaxChunk, count - done);
                    Buffer.BlockCopy(data, offset + done, Piece, 0, size);
                    completed |= Native.ParsePortData(Piece, (byte)size, LastInputs, LastChannels);
                }
            }
            return completed;
        }

        /// <summary>Feeds a whole array of received bytes; see
        /// <see cref="Feed(byte[], int, int)"/>.</summary>
        /// <param name="data">The received bytes, any length.</param>
        /// <returns>True when at least one upload frame completed.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="data"/> is null.</exception>
        public static bool Feed(byte[] data)
        {
            Check.NotNull(data, nameof(data));
            return Feed(data, 0, data.Length);
        }

        /// <summary>Empties the parser for a new connection. Call it after
        /// reopening the port (a replugged device, a restarted link) and before
        /// feeding the new connection's first bytes: a frame cut short when the
        /// old connection ended would otherwise take the new bytes as the rest
        /// of its payload and could decode values mixing the two.
        /// <see cref="Inputs"/> and <see cref="Channels"/> keep their values.
        /// The native parser has no reset; this feeds it 500 zero bytes in two
        /// pieces, which reach the end byte's place of any pending frame (at
        /// most 499 bytes), drop it, and leave nothing pending.</summary>
        public static void Reset()
        {
            lock (Gate)
            {
                var zeros = new byte[250];
                Native.ParsePortData(zeros, 250, null, null);
                Native.ParsePortData(zeros, 250, null, null);
            }
        }

        /// <summary>A copy of the nine input values: each position holds the
        /// value of the last upload record that carried it (kinds 0 and 2);
        /// zero until then.</summary>
        public static ushort[] Inputs
        {
            get
            {
                lock (Gate)
                {
                    return (ushort[])LastInputs.Clone();
                }
            }
        }

        /// <summary>A copy of the thirty-two channel values: each position holds
        /// the value of the last upload record that carried it (kinds 1 and 2);
        /// zero until then.</summary>
        public static ushort[] Channels
        {
            get
            {
                lock (Gate)
                {
                    return (ushort[])LastChannels.Clone();
                }
            }
        }
    }

    /// <summary>Decoders of the two HID input reports.</summary>
    public static class HidReports
    {
        /// <summary>Bytes in a game-controller report.</summary>
        public const int GameControllerReportSize = 19;

        /// <summary>Values decoded from a game-controller report.</summary>
        public const int GameControllerCount = 11;

        /// <summary>Bytes in a compatible-device report.</summary>
        public const int CompatibleReportSize = 23;

        /// <summary>First byte of every compatible-device report.</summary>
        public const byte CompatibleReportStart = 0xFA;

        /// <summary>Decodes a 19-byte game-controller report into eleven values:
        /// values 3..7 are 12-bit, value 8 is 4-bit and value 10 is 8-bit.</summary>
        /// <param name="report">The report as read from the device.</param>
        /// <param name="values">The eleven values, or null when the report is not 19 bytes long.</param>
        /// <returns>True when the report was decoded.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="report"/> is null.</exception>
        public static bool TryDecodeGameController(byte[] report, out ushort[] values)
        {
            Check.NotNull(report, nameof(report));
            values = null;
            if (report.Length != GameControllerReportSize)
            {
                return false;
            }
            var state = new ushort[GameControllerCount];
            if (!Native.ParseHidGameControllerDevice(state, report, GameControllerReportSize))
            {
                return false;
            }
            values = state;
            return true;
        }

        /// <summary>Decodes a 23-byte compatible-device report, whose first byte
        /// is 0xFA, into nine input values.</summary>
        /// <param name="report">The report as read from the device.</param>
        /// <param name="values">The nine values, or null when the report is not
        /// 23 bytes long or does not start with 0xFA.</param>
        /// <returns>True when the report was decoded.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="report"/> is null.</exception>
        public static bool TryDecodeCompatible(byte[] report, out ushort[] values)
        {
            Check.NotNull(report, nameof(report));
            values = null;
            if (report.Length != CompatibleReportSize || report[0] != CompatibleReportStart)
            {
                return false;
            }
            var inputs = new ushort[PortParser.InputCount];
            if (!Native.ParseHidCompatibleDevice(inputs, report, CompatibleReportSize))
            {
                return false;
            }
            values = inputs;
            return true;
        }
    }

    /// <summary>SBUS output: scaling standard values into SBUS units and
    /// packing whole 25-byte frames.</summary>
    public static class Sbus
    {
        /// <summary>Channels in one SBUS frame.</summary>
        public const int ChannelCount = 16;

        /// <summary>Bytes in one SBUS frame.</summary>
        public const int FrameSize = 25;

        /// <summary>Largest channel value in SBUS units.</summary>
        public const ushort ChannelMax = 2047;

        /// <summary>The start byte of every SBUS frame.</summary>
        public const byte StartByte = 0x0F;

        /// <summary>Scales sixteen standard values into SBUS units:
        /// floor(x * 1.706), at most 2047, so 0..1200 spans the whole range.</summary>
        /// <param name="values">Sixteen standard values.</param>
        /// <returns>A new array of sixteen values in SBUS units.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="values"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="values"/> does not hold 16 values.</exception>
        public static ushort[] FromStandard(ushort[] values)
        {
            Check.Exactly(values, ChannelCount, nameof(values));
            var sbus = new ushort[ChannelCount];
            Native.ConvertStdSbusData(sbus, values);
            return sbus;
        }

        /// <summary>The whole 25-byte SBUS frame for sixteen channels in SBUS
        /// units: start byte 0x0F, the channels packed 11 bits each (a value
        /// above 2047 is sent as 2047), a zero flags byte and the end byte.</summary>
        /// <param name="channels">Sixteen channel values in SBUS units.</param>
        /// <param name="sbus2">False for a zero end byte; true for the SBUS2 end
        /// byte, which cycles 04 14 24 34 over every SBUS2 frame the process encodes.</param>
        /// <returns>A new 25-byte frame.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="channels"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="channels"/> does not hold 16 values.</exception>
        public static byte[] Encode(ushort[] channels, bool sbus2 = false)
        {
            var frame = new byte[FrameSize];
            Encode(channels, frame, sbus2);
            return frame;
        }

        /// <summary>Writes the whole SBUS frame into bytes 0..24 of
        /// <paramref name="frame"/>, without allocating; see
        /// <see cref="Encode(ushort[], bool)"/>.</summary>
        /// <param name="channels">Sixteen channel values in SBUS units.</param>
        /// <param name="frame">At least 25 bytes; bytes from index 25 on are untouched.</param>
        /// <param name="sbus2">True for the cycling SBUS2 end byte.</param>
        /// <exception cref="ArgumentNullException">An argument is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="channels"/> does not
        /// hold 16 values, or <paramref name="frame"/> is shorter than 25 bytes.</exception>
        public static void Encode(ushort[] channels, byte[] frame, bool sbus2 = false)
        {
            Check.Exactly(channels, ChannelCount, nameof(channels));
            Check.AtLeast(frame, FrameSize, nameof(frame));
            frame[0] = StartByte;
            Native.EncodeSbusData(frame, channels, sbus2);
        }
    }

    /// <summary>Argument checks made before any native call.</summary>
    internal static class Check
    {
        internal static void NotNull(Array array, string name)
        {
            if (array == null)
            {
                throw new ArgumentNullException(name);
            }
        }

        internal static void AtLeast(Array array, int size, string name)
        {
            NotNull(array, name);
            if (array.Length < size)
            {
                throw new ArgumentException(
                    name + " must hold at least " + size + " elements, not " + array.Length, name);
            }
        }

        internal static void Exactly(Array array, int size, string name)
        {
            NotNull(array, name);
            if (array.Length != size)
            {
                throw new ArgumentException(
                    name + " must hold exactly " + size + " elements, not " + array.Length, name);
            }
        }

        internal static void Range(byte[] data, int offset, int count)
        {
            NotNull(data, nameof(data));
            if (offset < 0)
            {
                throw new ArgumentOutOfRangeException(nameof(offset), offset, "offset must not be negative");
            }
            if (count < 0)
            {
                throw new ArgumentOutOfRangeException(nameof(count), count, "count must not be negative");
            }
            if (data.Length - offset < count)
            {
                throw new ArgumentException("offset " + offset + " and count " + count +
                    " reach past the end of data, which holds " + data.Length + " bytes", nameof(count));
            }
        }
    }

    /// <summary>The eight native functions, declared for each platform, and
    /// the one platform chosen at start-up.</summary>
    internal static class Native
    {
        private static readonly bool OnWindows = IsWindows();

        private static bool IsWindows()
        {
            switch (Environment.OSVersion.Platform)
            {
                case PlatformID.Win32NT:
                case PlatformID.Win32S:
                case PlatformID.Win32Windows:
                case PlatformID.WinCE:
                    return true;
                default:
                    return false;
            }
        }

        internal static void RequestUploadPortData(byte[] frame, byte payloadByte0, byte payloadByte1)
        {
            if (OnWindows)
            {
                Windows.request_upload_port_data(frame, payloadByte0, payloadByte1);
            }
            else
            {
                Linux.request_upload_port_data(frame, payloadByte0, payloadByte1);
            }
        }

        internal static void StopUploadPortData(byte[] frame)
        {
            if (OnWindows)
            {
                Windows.stop_upload_port_data(frame);
            }
            else
            {
                Linux.stop_upload_port_data(frame);
            }
        }

        internal static bool ParsePortData(byte[] data, byte length, ushort[] inputs, ushort[] channels)
        {
            return OnWindows ? Windows.parse_port_data(data, length, inputs, channels)
                             : Linux.parse_port_data(data, length, inputs, channels) != 0;
        }

        internal static bool ParseHidGameControllerDevice(ushort[] state, byte[] report, byte length)
        {
            return OnWindows ? Windows.parse_hid_game_controller_device(state, report, length)
                             : Linux.parse_hid_game_controller_device(state, report, length) != 0;
        }

        internal static bool ParseHidCompatibleDevice(ushort[] inputs, byte[] report, byte length)
        {
            return OnWindows ? Windows.parse_hid_compatible_device(inputs, report, length)
                             : Linux.parse_hid_compatible_device(inputs, report, length) != 0;
        }

        internal static void ConvertStdSbusData(ushort[] sbusValues, ushort[] stdValues)
        {
            if (OnWindows)
            {
                Windows.convert_std_sbus_data(sbusValues, stdValues);
            }
            else
            {
                Linux.convert_std_sbus_data(sbusValues, stdValues);
            }
        }

        internal static void EncodeSbusData(byte[] frame, ushort[] channels, bool sbus2)
        {
            if (OnWindows && sbus2)
            {
                Windows.encode_sbus_data_v2(frame, channels);
            }
            else if (OnWindows)
            {
                Windows.encode_sbus_data_v1(frame, channels);
            }
            else if (sbus2)
            {
                Linux.encode_sbus_data_v2(frame, channels);
            }
            else
            {
                Linux.encode_sbus_data_v1(frame, channels);
            }
        }

        // Windows: ZelkoLink.dll; the parse functions return one byte.
        private static class Windows
        {
            private const string Library = "ZelkoLink.dll";

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void request_upload_port_data(
                [In, Out] byte[] frame, byte payloadByte0, byte payloadByte1);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void stop_upload_port_data([In, Out] byte[] frame);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.U1)]
            internal static extern bool parse_port_data(
                [In] byte[] data, byte length, [In, Out] ushort[] inputs, [In, Out] ushort[] channels);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.U1)]
            internal static extern bool parse_hid_game_controller_device(
                [Out] ushort[] state, [In] byte[] report, byte length);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.U1)]
            internal static extern bool parse_hid_compatible_device(
                [Out] ushort[] inputs, [In] byte[] report, byte length);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void convert_std_sbus_data([Out] ushort[] sbusValues, [In] ushort[] stdValues);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void encode_sbus_data_v1([In, Out] byte[] frame, [In] ushort[] channels);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void encode_sbus_data_v2([In, Out] byte[] frame, [In] ushort[] channels);
        }

        // Linux: the runtime name with its major version, the one file a
        // program is sure to find (libZelkoLink.so is a development link);
        // the parse functions return a 32-bit int.
        private static class Linux
        {
            private const string Library = "libZelkoLink.so.1";

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void request_upload_port_data(
                [In, Out] byte[] frame, byte payloadByte0, byte payloadByte1);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void stop_upload_port_data([In, Out] byte[] frame);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern int parse_port_data(
                [In] byte[] data, byte length, [In, Out] ushort[] inputs, [In, Out] ushort[] channels);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern int parse_hid_game_controller_device(
                [Out] ushort[] state, [In] byte[] report, byte length);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern int parse_hid_compatible_device(
                [Out] ushort[] inputs, [In] byte[] report, byte length);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void convert_std_sbus_data([Out] ushort[] sbusValues, [In] ushort[] stdValues);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void encode_sbus_data_v1([In, Out] byte[] frame, [In] ushort[] channels);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern void encode_sbus_data_v2([In, Out] byte[] frame, [In] ushort[] channels);
        }
    }
}
