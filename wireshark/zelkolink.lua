-- ZelkoLink port link dissector for Wireshark and tshark.
--
-- Decodes captures of a device's serial port link (pcapng, link type 147,
-- LINKTYPE_USER0): one packet per read from the port (device to host) or
-- write to it (host to device). It registers for USER0, so such a capture
-- opens decoded with nothing to set. Install: copy this file into
-- Wireshark's Lua plugin folder (Help > About Wireshark > Folders,
-- "Personal Lua Plugins"), or load it once with
-- `tshark -X lua_script:zelkolink.lua`.
--
-- Each direction of each interface is one byte stream, framed exactly as the
-- ZelkoLink library frames what the device sends, so Wireshark and the
-- library never disagree about which frames a stream holds:
--
--   A frame is FA, command, 16-bit little-endian payload length L, L payload
--   bytes, end byte 5F. A byte that is not FA is stepped over (noise). At an
--   FA, a length no 500-byte reassembly buffer could hold (L + 5 > 500)
--   makes the FA an ordinary byte, stepped over. Otherwise the frame waits
--   for its end byte. A wrong end byte skips the whole frame unread (shown
--   as corrupt). Upload data (A5) is decoded and an upload request (E5) is
--   skipped whole; any other command steps over the FA alone, so frames
--   nested in its payload are found.
--
-- The host's stream is read the same way, with its request (E5) and stop
-- (E4) frames taken whole.
--
-- Frames split across reads are dissected whole: the first pass keeps each
-- stream's undecided bytes and remembers, per packet, what the scan decided
-- in it. A frame is shown in the packet whose bytes let the scan decide it:
-- its end byte's packet, or for a frame nested in another command's payload
-- the packet holding the enclosing frame's end byte, since only that byte
-- tells whether the scan steps into it.

local START = 0xFA
local END_BYTE = 0x5F
local UPLOAD_DATA = 0xA5
local UPLOAD_REQUEST = 0xE5
local UPLOAD_STOP = 0xE4
local HEADER_SIZE = 4     -- start, command, two length bytes
local FRAME_OVERHEAD = 5  -- header plus end byte
local BUFFER_SIZE = 500   -- the library's reassembly buffer: no longer frame exists

-- Upload records: a kind byte, then 16-bit little-endian values.
local INPUT_COUNT, CHANNEL_COUNT = 9, 32
local RECORDS = {
  -- kind = { payload bytes it needs, offset of the inputs, offset of the channels }
  [0] = { need = 19, inputs = 1 },
  [1] = { need = 65, channels = 1 },
  [2] = { need = 95, inputs = 1, channels = 31 },  -- bytes 19..30 are not read
}

local zelkolink = Proto("zelkolink", "ZelkoLink port link")

local fields = {
  command = ProtoField.uint8("zelkolink.command", "Command", base.HEX, {
    [UPLOAD_DATA] = "upload data", [UPLOAD_REQUEST] = "upload request",
    [UPLOAD_STOP] = "upload stop" }),
  length = ProtoField.uint16("zelkolink.length", "Payload length", base.DEC),
  kind = ProtoField.uint8("zelkolink.kind", "Record kind", base.DEC, {
    [0] = "inputs", [1] = "channels", [2] = "inputs and channels" }),
  input = ProtoField.uint16("zelkolink.input", "Input", base.DEC),
  channel = ProtoField.uint16("zelkolink.channel", "Channel", base.DEC),
  request = ProtoField.bytes("zelkolink.request", "Request bytes", base.SPACE),
  noise = ProtoField.bytes("zelkolink.noise", "Noise", base.SPACE),
}
zelkolink.fields = { fields.command, fields.length, fields.kind, fields.input, fields.channel,
                     fields.request, fields.noise }

local experts = {
  corrupt = ProtoExpert.new("zelkolink.expert.corrupt",
    "Wrong end byte: the frame is skipped unread", expert.group.MALFORMED, expert.severity.WARN),
  short = ProtoExpert.new("zelkolink.expert.short_record",
    "Upload record shorter than its kind needs: no value is stored",
    expert.group.PROTOCOL, expert.severity.NOTE),
  skipped = ProtoExpert.new("zelkolink.expert.skipped",
    "Upload request frame from the device (an adapter's echo, say): skipped", expert.group.SEQUENCE,
    expert.severity.NOTE),
}
zelkolink.experts = { experts.corrupt, experts.short, experts.skipped }

local interface_id = Field.new("frame.interface_id")

-- First-pass state: each stream's undecided bytes, and what was decided in
-- each packet. Cleared when a capture is (re)loaded.
local streams, decided = {}, {}

function zelkolink.init()
  streams, decided = {}, {}
end

local byte = string.byte

-- What a complete frame with a good or bad end byte is, or nil for a
-- command whose frame the scan steps into.
local function frame_type(command, last, outbound)
  if last ~= END_BYTE then return "corrupt" end
  if outbound then
    if command == UPLOAD_REQUEST then return "request" end
    if command == UPLOAD_STOP then return "stop" end
  else
    if command == UPLOAD_DATA then return "upload" end
    if command == UPLOAD_REQUEST then return "skipped" end
  end
  return nil
end

-- Scans buf (the stream from stream position base on) as the library does.
-- Returns the events it decided, in stream order ({what, first, bytes}:
-- noise runs and frames), and the index of the first byte left undecided:
-- an FA whose frame has not fully arrived.
local function scan(buf, base, outbound)
  local events, len, pos, noise_from = {}, #buf, 1, nil
  local function event(what, from, to)
    events[#events + 1] = { what = what, first = base + from - 1, bytes = buf:sub(from, to) }
  end
  local function end_noise()
    if noise_from then event("noise", noise_from, pos - 1) end
    noise_from = nil
  end
  while pos <= len do
    if byte(buf, pos) ~= START then
      noise_from = noise_from or pos
      pos = string.find(buf, "\250", pos + 1, true) or len + 1
    elseif len - pos + 1 < HEADER_SIZE then
      break
    else
      local size = byte(buf, pos + 2) + 256 * byte(buf, pos + 3) + FRAME_OVERHEAD
      if size > BUFFER_SIZE then
        noise_from = noise_from or pos  -- an ordinary byte: no such frame can be held
        pos = pos + 1
      elseif len - pos + 1 < size then
        break
      else
        local what = frame_type(byte(buf, pos + 1), byte(buf, pos + size - 1), outbound)
        if what then
          end_noise()
          event(what, pos, pos + size - 1)
          pos = pos + size
        else
          noise_from = noise_from or pos
          pos = pos + 1
        end
      end
    end
  end
  end_noise()
  return events, pos
end

-- Adds this packet's bytes to its stream and keeps what the scan decides.
local function first_pass(tvb, pinfo, outbound)
  local key = tostring(interface_id() and interface_id().value or 0) .. (outbound and "out" or "in")
  local stream = streams[key] or { pending = "", base = 0 }
  streams[key] = stream
  local buf = stream.pending .. tvb:raw()
  local events, next_pos = scan(buf, stream.base, outbound)
  local result = { events = events, start = stream.base + #stream.pending }
  stream.pending = buf:sub(next_pos)
  stream.base = stream.base + next_pos - 1
  result.pending = #stream.pending
  if result.pending >= HEADER_SIZE then
    result.frame_size = byte(stream.pending, 3) + 256 * byte(stream.pending, 4) + FRAME_OVERHEAD
  end
  return result
end

local function hex(range)
  local text = {}
  for k = 0, range:len() - 1 do text[#text + 1] = string.format("%02X", range(k, 1):uint()) end
  return table.concat(text, " ")
end

-- Shows an upload record's kind and the values the library stores from it;
-- returns the Info text.
local function show_record(tree, payload, length)
  if length == 0 then return "upload (empty)" end
  local kind = payload(0, 1):uint()
  tree:add(fields.kind, payload(0, 1))
  local record = RECORDS[kind]
  if not record then return "upload kind " .. kind end
  if length < record.need then
    tree:add_proto_expert_info(experts.short, string.format(
      "Record of kind %d needs %d payload bytes, has %d: no value is stored",
      kind, record.need, length))
    return string.format("upload kind %d (short)", kind)
  end
  if record.inputs then
    for k = 0, INPUT_COUNT - 1 do
      local value = payload(record.inputs + 2 * k, 2)
      tree:add_le(fields.input, value):set_text(string.format("Input %d: %d", k, value:le_uint()))
    end
  end
  if record.channels then
    for k = 0, CHANNEL_COUNT - 1 do
      local value = payload(record.channels + 2 * k, 2)
      tree:add_le(fields.channel, value):set_text(
        string.format("Channel %d: %d", k, value:le_uint()))
    end
  end
  return "upload kind " .. kind
end

local TITLES = {
  upload = "Upload data frame", request = "Upload request frame", stop = "Stop frame",
  skipped = "Upload request frame from the device, skipped",
  corrupt = "Frame with a wrong end byte, skipped",
}

-- Shows one frame; returns its Info text.
local function show_frame(tree, range, what)
  local length = range(2, 2):le_uint()
  local subtree = tree:add(zelkolink, range, TITLES[what])
  subtree:add(fields.command, range(1, 1))
  subtree:add_le(fields.length, range(2, 2))
  local payload = length > 0 and range(HEADER_SIZE, length) or nil
  local last = range(HEADER_SIZE + length, 1)
  local function show_end()
    subtree:add(last, string.format("End byte: 0x%02X", last:uint()))
  end
  if what == "upload" then
    local info = show_record(subtree, payload, length)
    subtree:append_text(" (" .. info .. ")")
    show_end()
    return info
  end
  show_end()
  if what == "request" then
    if not payload then return "request (empty)" end
    local bytes = payload(0, math.min(length, 2))
    subtree:add(fields.request, bytes)
    return "request " .. hex(bytes)
  elseif what == "stop" then
    return "stop"
  elseif what == "skipped" then
    subtree:add_proto_expert_info(experts.skipped)
    return "skipped request from the device"
  end
  subtree:add_proto_expert_info(experts.corrupt, string.format(
    "Wrong end byte 0x%02X (0x5F expected): the %d-byte frame is skipped unread",
    last:uint(), length + FRAME_OVERHEAD))
  return string.format("corrupt frame (end byte %02X)", last:uint())
end

-- The event's bytes: in this packet where they all lie in it, else a tab of
-- their own holding bytes gathered from earlier packets too.
local function event_range(tvb, result, event)
  if event.first >= result.start then
    return tvb(event.first - result.start, #event.bytes)
  end
  local name = event.what == "noise" and "ZelkoLink noise" or "Reassembled ZelkoLink frame"
  return ByteArray.new(event.bytes, true):tvb(name)()
end

local function count(n, noun)
  return string.format("%d %s%s", n, noun, n == 1 and "" or "s")
end

-- Joins the Info texts, runs of the same one as "text xN".
local function summary(texts)
  local out, k = {}, 1
  while k <= #texts do
    local run = 1
    while texts[k + run] == texts[k] do run = run + 1 end
    out[#out + 1] = run > 1 and string.format("%s x%d", texts[k], run) or texts[k]
    k = k + run
  end
  return table.concat(out, ", ")
end

function zelkolink.dissector(tvb, pinfo, tree)
  -- The pcapng direction flags: received is inbound (device to host); a
  -- packet without them counts as inbound too.
  local outbound = pinfo.p2p_dir == 0
  pinfo.cols.protocol = "ZelkoLink"
  pinfo.cols.src = outbound and "host" or "device"
  pinfo.cols.dst = outbound and "device" or "host"

  local result = decided[pinfo.number]
  if not result then
    if pinfo.visited then
      pinfo.cols.info = "not seen in the first pass"
      return
    end
    result = first_pass(tvb, pinfo, outbound)
    decided[pinfo.number] = result
  end

  local root = tree:add(zelkolink, tvb(), string.format("ZelkoLink port link, %s",
    outbound and "host to device" or "device to host"))
  local texts, frames, noise = {}, 0, 0
  for _, event in ipairs(result.events) do
    local range = event_range(tvb, result, event)
    if event.what == "noise" then
      root:add(fields.noise, range):append_text(" (" .. count(#event.bytes, "byte")
        .. " stepped over)")
      noise = noise + #event.bytes
      texts[#texts + 1] = "noise " .. count(#event.bytes, "byte")
    else
      frames = frames + 1
      texts[#texts + 1] = show_frame(root, range, event.what)
    end
  end
  -- The frame the stream ends with so far, still to be completed.
  local pending = ""
  if result.pending > 0 then
    pending = result.frame_size
      and string.format(", frame continues (%d of %d bytes)", result.pending, result.frame_size)
      or string.format(", frame starts (%s)", count(result.pending, "byte"))
  end
  root:append_text(string.format(": %s, %s%s", count(frames, "frame"),
    count(noise, "noise byte"), pending))
  local info = summary(texts) .. pending
  pinfo.cols.info = info ~= "" and info:gsub("^, ", "") or "no bytes"
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, zelkolink)
