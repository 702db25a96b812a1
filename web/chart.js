// A strip chart of the last ten seconds of the series the user picks. It is
// sampled and drawn once per animation frame, not once per upload frame.

const SPAN = 10_000;
const COLOURS = ['#2f7de1', '#e1642f', '#2fa84f', '#b03fc4', '#c9a227', '#1fa2a8', '#d03a6a', '#6b6b6b'];

export class StripChart {
  constructor(canvas) {
    this.canvas = canvas;
    this.series = new Map(); // name -> [[time, value], ...]
  }

  // Keeps only the named series, adding empty ones for new names.
  pick(names) {
    for (const name of [...this.series.keys()]) if (!names.includes(name)) this.series.delete(name);
    for (const name of names) if (!this.series.has(name)) this.series.set(name, []);
  }

  sample(now, valueOf) {
    for (const [name, points] of this.series) {
      const value = valueOf(name);
      if (value !== undefined) points.push([now, value]);
      let old = 0;
      while (old < points.length && points[old][0] < now - SPAN) old++;
      if (old > 0) points.splice(0, old);
    }
  }

  draw(now, scale) {
    const { canvas } = this;
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    const ratio = window.devicePixelRatio || 1;
    if (canvas.width !== Math.round(width * ratio)) canvas.width = Math.round(width * ratio);
    if (canvas.height !== Math.round(height * ratio)) canvas.height = Math.round(height * ratio);
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, width, height);
    g.strokeStyle = 'rgba(128,128,128,0.35)';
    g.lineWidth = 1;
    for (let second = 0; second <= 10; second += 2) {
      const x = Math.round((second / 10) * width) + 0.5;
      g.beginPath();
      g.moveTo(x, 0);
      g.lineTo(x, height);
      g.stroke();
    }
    let colour = 0;
    for (const [name, points] of this.series) {
      const top = scale(name) + 1;
      g.strokeStyle = COLOURS[colour++ % COLOURS.length];
      g.lineWidth = 1.5;
      g.beginPath();
      points.forEach(([time, value], k) => {
        const x = width - ((now - time) / SPAN) * width;
        const y = height - (value / top) * height;
        if (k === 0) g.moveTo(x, y);
        else g.lineTo(x, y);
      });
      g.stroke();
      g.fillStyle = g.strokeStyle;
      g.fillText(name, 6 + 40 * (colour - 1), 12);
    }
  }
}
