// Which of the browser APIs the page needs are missing, said plainly. The
// demo and the rest of the page work without them.
const APIS = [
  { name: 'Web Serial', present: () => 'serial' in navigator, panels: 'the device and SBUS panels',
    browsers: 'Chromium-based desktop browsers (Chrome, Edge, Opera) from version 89; Firefox and Safari do not offer it by default' },
  { name: 'WebHID', present: () => 'hid' in navigator, panels: 'the HID panel',
    browsers: 'Chromium-based desktop browsers (Chrome, Edge, Opera) from version 89; Firefox and Safari do not offer it' },
];

export function missingApis() {
  return APIS.filter((api) => !api.present());
}

export function showSupport(element) {
  const missing = missingApis();
  element.hidden = missing.length === 0;
  element.replaceChildren(...missing.map((api) => {
    const line = document.createElement('p');
    line.dataset.missing = api.name;
    line.textContent = `This browser has no ${api.name}, so ${api.panels} cannot reach a device. ` +
      `${api.name} is in ${api.browsers}.` +
      (window.isSecureContext ? '' : ' It also needs the page served over https or from localhost.');
    return line;
  }));
}
