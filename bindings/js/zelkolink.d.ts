// Type declarations for zelkolink, the ZelkoLink library as WebAssembly.

/** Bytes: a Uint8Array (a Node.js Buffer too), an ArrayBuffer, or numbers 0..255. */
export type Bytes = Uint8Array | ArrayBuffer | readonly number[];

/** Sixteen 16-bit values: a Uint16Array, or numbers 0..65535. */
export type Values16 = Uint16Array | readonly number[];

/** The 7-byte frame FA E5 02 00 b0 b1 5F that asks the device to start an upload. */
export function requestFrame(b0: number, b1: number): Uint8Array;

/** The 5-byte frame FA E4 00 00 5F that ends an upload. */
export function stopFrame(): Uint8Array;

/**
 * A port stream parser. Each one has a WebAssembly instance, and so a
 * reassembly buffer, of its own: parsers of different devices never mix.
 */
export class PortParser {
  constructor();
  /**
   * Feeds bytes received from the port, any number, cut anywhere; they reach
   * the library 255 at a time. True when at least one upload frame completed
   * during the call. Throws TypeError or RangeError, and changes nothing,
   * when the argument is not bytes.
   */
  feed(bytes: Bytes): boolean;
  /** Nine input values; each the last one an upload record carried, 0 before. */
  readonly inputs: number[];
  /** Thirty-two channel values; each the last one an upload record carried, 0 before. */
  readonly channels: number[];
}

/** The eleven values of a 19-byte game-controller report. RangeError for another length. */
export function decodeGameController(report: Bytes): number[];

/**
 * The nine values of a 23-byte compatible-device report. RangeError for
 * another length or a first byte other than 0xFA.
 */
export function decodeCompatible(report: Bytes): number[];

/** Sixteen standard values scaled to SBUS units: min(floor(x * 1.706), 2047). */
export function stdToSbus(values16: Values16): number[];

/**
 * The 25-byte SBUS frame of sixteen channels, byte 0 0x0F; values above 2047
 * are sent as 2047. With sbus2 the end byte cycles 04 14 24 34, one step per
 * sbus2 frame of this module; otherwise it is 0.
 */
export function encodeSbus(channels16: Values16, options?: { sbus2?: boolean }): Uint8Array;
