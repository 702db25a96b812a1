// A capture played as a port would deliver it: each read from the device
// handed on as the chunk it was, at its recorded time after the capture's
// first block. Writes the host made are kept on the time line but not fed.
// Positions are ms from the first block.
import { clock } from './records.js';

export class Replay {
  #reads;
  #next = 0; // the first read not yet fed
  #base = 0; // the clock's time at position 0, while playing
  #at = 0; // the position, while paused
  #timer = null;

  // packets: a capture's, in order; start() is called for fresh readers
  // whenever feeding starts over, feed(bytes, time) with each read and the
  // clock time it stands for, ended() once the last read is fed.
  constructor(packets, { start, feed, ended }) {
    const first = packets[0].time;
    this.#reads = packets.filter((packet) => !packet.outbound)
      .map((packet) => ({ at: packet.time - first, bytes: packet.data }));
    this.duration = packets.at(-1).time - first;
    this.hooks = { start, feed, ended };
    this.state = 'paused';
    start();
  }

  get position() {
    return this.state === 'playing' ? Math.min(clock() - this.#base, this.duration) : this.#at;
  }

  play() {
    if (this.state === 'playing') return;
    if (this.state === 'finished') this.seek(0);
    this.state = 'playing';
    this.#base = clock() - this.#at;
    this.#run();
  }

  // Paused at a position, every read up to it has been fed.
  pause() {
    if (this.state !== 'playing') return;
    this.#at = this.position;
    this.state = 'paused';
    clearTimeout(this.#timer);
    this.#feedUntil(this.#at);
  }

  // Moves to position: back means fresh readers and every read up to it
  // fed again; forward feeds the reads in between. Each read is fed on its
  // own, with the time it would have come had it played to here.
  seek(position) {
    const playing = this.state === 'playing';
    clearTimeout(this.#timer);
    this.#at = Math.max(0, Math.min(position, this.duration));
    if (this.state === 'finished') this.state = 'paused';
    this.#base = clock() - this.#at;
    if (this.#next > 0 && this.#reads[this.#next - 1].at > this.#at) {
      this.#next = 0;
      this.hooks.start();
    }
    this.#feedUntil(this.#at);
    if (playing) this.#run();
  }

  stop() {
    clearTimeout(this.#timer);
    this.state = 'stopped';
  }

  #feedUntil(position) {
    while (this.#next < this.#reads.length && this.#reads[this.#next].at <= position) {
      const read = this.#reads[this.#next++];
      this.hooks.feed(read.bytes, this.#base + read.at);
    }
  }

  #run() {
    this.#feedUntil(clock() - this.#base);
    if (this.#next < this.#reads.length) {
      this.#timer = setTimeout(() => this.#run(), this.#base + this.#reads[this.#next].at - clock());
      return;
    }
    this.#at = this.duration;
    this.state = 'finished';
    this.hooks.ended();
  }
}
