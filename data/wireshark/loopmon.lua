-- Wireshark dissector for the captures of loopmon's RS-485 bus (loopctl
-- --trace-format pcapng, the traffic window's "Сохранить для Wireshark...").
-- Packets come on link type 156 (LINKTYPE_USER9): a header of loopmon's own,
-- then one frame as it went over the wire. The words for requests and
-- answers are the trace's own; the test suite compares them for every code.

local loopmon = Proto("loopmon", "loopmon RS-485 bus")

local HEADER_BYTES = 24

local directions = { [0] = "request", [1] = "answer" }
local outcomes = {
  [0] = "answer", [1] = "sent", [2] = "silence", [3] = "short", [4] = "length wrong",
  [5] = "checksum wrong", [6] = "echo", [7] = "from address", [8] = "not a frame",
  [9] = "not sent",
}
local OUTCOME_SILENCE, OUTCOME_SHORT, OUTCOME_LENGTH = 2, 3, 4
local OUTCOME_ECHO, OUTCOME_OTHER, OUTCOME_MALFORMED = 6, 7, 8
local routes = {
  [0] = "serial", [1] = "remote", [2] = "driver", [3] = "simulator", [4] = "simulator-worker",
}

local f = loopmon.fields
f.direction = ProtoField.uint8("loopmon.direction", "Direction", base.DEC, directions)
f.outcome = ProtoField.uint8("loopmon.outcome", "Outcome of the attempt", base.DEC, outcomes)
f.accepted = ProtoField.bool("loopmon.accepted", "Taken by the program")
f.awaited = ProtoField.bool("loopmon.awaited", "Answer awaited")
f.exchange = ProtoField.uint32("loopmon.exchange", "Exchange", base.DEC)
f.attempt = ProtoField.uint8("loopmon.attempt", "Attempt", base.DEC)
f.attempts = ProtoField.uint8("loopmon.attempts", "Attempts allowed", base.DEC)
f.route = ProtoField.uint8("loopmon.route", "Route", base.DEC, routes)
f.first_ms = ProtoField.double("loopmon.first_ms", "First byte after the request's end (ms)")
f.last_ms = ProtoField.double("loopmon.last_ms", "Last byte after the request's end (ms)")
f.waited_ms = ProtoField.double("loopmon.waited_ms", "Waited in silence (ms)")
f.addr = ProtoField.uint8("loopmon.addr", "Address", base.DEC)
f.keyed = ProtoField.bool("loopmon.keyed", "Keyed form (address + 128)")
f.key = ProtoField.uint8("loopmon.key", "Key", base.HEX)
f.length = ProtoField.uint8("loopmon.length", "Length (offset of the checksum)", base.DEC)
f.modifier = ProtoField.uint8("loopmon.modifier", "Modifier", base.HEX)
f.command = ProtoField.uint8("loopmon.command", "Command", base.HEX)
f.code = ProtoField.uint8("loopmon.code", "Answer code", base.HEX)
f.data = ProtoField.bytes("loopmon.data", "Data")
f.checksum = ProtoField.uint8("loopmon.checksum", "Checksum", base.HEX)
f.checksum_status = ProtoField.string("loopmon.checksum.status", "Checksum status")
f.meaning = ProtoField.string("loopmon.meaning", "Meaning")
f.request_in = ProtoField.framenum("loopmon.request_in", "Request in", base.NONE, frametype.REQUEST)
f.response_in = ProtoField.framenum("loopmon.response_in", "Answer in", base.NONE, frametype.RESPONSE)
f.time = ProtoField.double("loopmon.time_ms", "Time since the request (ms)")

local e_checksum = ProtoExpert.new("loopmon.checksum.bad.expert", "Bad checksum",
  expert.group.CHECKSUM, expert.severity.ERROR)
local e_silence = ProtoExpert.new("loopmon.silence", "No answer",
  expert.group.RESPONSE_CODE, expert.severity.WARN)
local e_other = ProtoExpert.new("loopmon.other_address", "Answer from another address",
  expert.group.SEQUENCE, expert.severity.WARN)
local e_damaged = ProtoExpert.new("loopmon.damaged", "Damaged answer",
  expert.group.PROTOCOL, expert.severity.WARN)
local e_echo = ProtoExpert.new("loopmon.echo", "The converter's echo of the request",
  expert.group.SEQUENCE, expert.severity.NOTE)
loopmon.experts = { e_checksum, e_silence, e_other, e_damaged, e_echo }

-- The 1-Wire CRC-8 (reflected 0x8C); the devices in the field carry 0xFC at
-- entry 0xF9 where the published rule gives 0xE8.
-- Plain arithmetic rather than operators: Wireshark runs Lua 5.2 or 5.4,
-- whose bit operations are written differently.
local function bxor(a, b)
  local result, bit = 0, 1
  while a > 0 or b > 0 do
    local x, y = a % 2, b % 2
    if x ~= y then result = result + bit end
    a, b, bit = math.floor(a / 2), math.floor(b / 2), bit * 2
  end
  return result
end
local function flag(value, bit) return math.floor(value / bit) % 2 == 1 end

local published = {}
for i = 0, 255 do
  local crc = i
  for _ = 1, 8 do
    if crc % 2 == 1 then crc = bxor(math.floor(crc / 2), 0x8C) else crc = math.floor(crc / 2) end
  end
  published[i] = crc
end
local carried = {}
for i = 0, 255 do carried[i] = published[i] end
carried[0xF9] = 0xFC

local function checksum(bytes, count, table)
  local crc = 0
  for i = 1, count do crc = table[bxor(crc, bytes[i])] end
  return crc
end

local type_names = {
  [0] = "Hovra", [1] = "Mivra-Q", [2] = "Mivra-QX", [3] = "Hovra-F", [4] = "Hovra-J",
  [5] = "Fyzo", [6] = "Mivra-Z", [7] = "Hovra-M", [8] = "Hovra-W", [9] = "Hovra-Y",
  [10] = "Hovra-Z", [11] = "Mivra-QW", [12] = "Hovra-X", [13] = "Hovra-Q", [16] = "Hovra-H",
}
local state_texts = {
  [3] = "тревога", [17] = "не взятие", [24] = "на охране", [37] = "п. тревога",
  [44] = "внимание", [109] = "не на охране", [187] = "отключен",
}

local function hexbyte(v) return string.format("0x%02X", v) end

local function request_meaning(command, d1, d2)
  local n = tostring(d1)
  if command == 0x01 then return "presence?" end
  if command == 0x03 and d1 == 0 and d2 == 1 then return "acknowledgement" end
  if command == 0x0D then return "description?" end
  if command == 0x19 then return "state of loop " .. n .. "?" end
  if command == 0x1B then return "ADC of loop " .. n .. "?" end
  if command == 0x39 then
    if d2 == 1 then return "kind of line device " .. n .. "?" end
    if d2 == 4 then return "reading of line device " .. n .. "?" end
    return "line device " .. n .. ", query " .. d2 .. "?"
  end
  return "command " .. hexbyte(command)
end

local function answer_meaning(code, d1, d2)
  if code == 0x02 then return "present" end
  if code == 0x00 then
    local name = type_names[d1] or ("Неизвестный тип (" .. d1 .. ")")
    return string.format("type %d %s, version %d.%02d", d1, name, math.floor(d2 / 100), d2 % 100)
  end
  if code == 0x0A then return "refused command " .. hexbyte(d1) end
  if code == 0x1A then
    local text = state_texts[d2]
    return "loop " .. d1 .. ": state " .. d2 .. (text and (" " .. text) or "")
  end
  if code == 0x1C then return "loop " .. d1 .. ": ADC " .. d2 end
  if code == 0x3A then
    if d1 == 4 then return "line device: reading " .. d2 end
    if d1 == 0 then return "line device: condition " .. d2 end
    return "line device: class " .. d1 .. ", kind " .. d2
  end
  if code == 4 or code == 12 or code == 14 then
    return string.format("event %d: %02X %02X", code, d1, d2)
  end
  return "code " .. hexbyte(code)
end

-- What a frame says, as the trace says it; nil for one too short or, for an
-- answer, of a Length no answer of this bus has.
local function meaning(plain, is_answer)
  if #plain < 5 then return nil end
  if not is_answer then
    local d2 = (plain[2] > 5 and #plain > 5) and plain[6] or 0
    return request_meaning(plain[4], plain[5], d2)
  end
  if plain[2] ~= 5 then return nil end
  return answer_meaning(plain[3], plain[4], plain[5])
end

-- The pairing, made on the first pass over the file: an answer follows its
-- request and carries the same exchange and attempt (numbers a later session
-- of the same capture counts afresh).
local last_request, request_of, answer_of = {}, {}, {}
function loopmon.init()
  last_request, request_of, answer_of = {}, {}, {}
end

local function ms(micros) return micros / 1000.0 end

function loopmon.dissector(tvb, pinfo, root)
  if tvb:len() < HEADER_BYTES then return 0 end
  pinfo.cols.protocol = "loopmon"
  local tree = root:add(loopmon, tvb())
  local is_answer = tvb(2, 1):uint() == 1
  local outcome = tvb(3, 1):uint()
  local flags = tvb(4, 1):uint()
  local keyed = flag(flags, 2)
  local key = tvb(5, 1):uint()
  local exchange = tvb(8, 4):uint()
  local attempt = tvb(6, 1):uint()
  local first = tvb(12, 4):int()
  local last = tvb(16, 4):int()
  local pair = exchange .. ":" .. attempt

  local header = tree:add(tvb(0, HEADER_BYTES), "Attempt")
  header:add(f.direction, tvb(2, 1))
  header:add(f.outcome, tvb(3, 1))
  header:add(f.accepted, tvb(4, 1), flag(flags, 1))
  header:add(f.awaited, tvb(4, 1), flag(flags, 4))
  header:add(f.exchange, tvb(8, 4))
  header:add(f.attempt, tvb(6, 1))
  header:add(f.attempts, tvb(7, 1))
  header:add(f.route, tvb(20, 1))
  -- The answer's times on the answer; the wait on a request left unanswered.
  if is_answer then
    if first >= 0 then header:add(f.first_ms, tvb(12, 4), ms(first)) end
    if last >= 0 then header:add(f.last_ms, tvb(16, 4), ms(last)) end
  elseif outcome == OUTCOME_SILENCE and last >= 0 then
    header:add(f.waited_ms, tvb(16, 4), ms(last))
  end

  local frame = tvb(HEADER_BYTES)
  local size = frame:len()
  local bytes = {}
  for i = 1, size do bytes[i] = frame(i - 1, 1):uint() end

  if not pinfo.visited then
    if is_answer then
      local request = last_request[pair]
      if request then
        request_of[pinfo.number] = request
        answer_of[request.number] = pinfo.number
      end
    else
      last_request[pair] = { number = pinfo.number, time = pinfo.abs_ts, addr = (bytes[1] or 0) % 128 }
    end
  end
  local request = request_of[pinfo.number]

  local addr = (bytes[1] or 0) % 128
  if size >= 1 then
    tree:add(f.addr, frame(0, 1), addr)
    tree:add(f.keyed, frame(0, 1), bytes[1] >= 128)
    if keyed then tree:add(f.key, tvb(5, 1)) end
  end
  if size >= 2 then tree:add(f.length, frame(1, 1)) end
  local data_from = is_answer and 3 or 4
  if size >= 3 then
    if is_answer then
      tree:add(f.code, frame(2, 1))
    else
      tree:add(f.modifier, frame(2, 1))
      if size >= 4 then tree:add(f.command, frame(3, 1)) end
    end
  end
  -- The checksum stands where the Length says; a frame cut short has none.
  local checked = size >= 2 and bytes[2] + 1 or 0
  if size > data_from and checked > data_from then
    local data_end = math.min(checked - 1, size)
    if data_end > data_from then tree:add(f.data, frame(data_from, data_end - data_from)) end
  end
  local status
  if size >= 2 and checked <= size then
    local stored = bytes[checked]
    tree:add(f.checksum, frame(checked - 1, 1))
    if checksum(bytes, checked - 1, carried) == stored then
      status = "good"
    elseif checksum(bytes, checked - 1, published) == stored then
      status = "good (published table)"
    else
      status = "bad"
    end
  else
    status = "absent"
  end
  local status_item = tree:add(f.checksum_status, status)
  if status == "bad" then status_item:add_proto_expert_info(e_checksum) end

  -- The meaning of a keyed frame is in its plain bytes: Command and Data
  -- (Code and Data of an answer) XORed with the key.
  local plain = {}
  for i = 1, size do plain[i] = bytes[i] end
  if keyed then
    local from = is_answer and 3 or 4
    local to = is_answer and size or size - 1
    for i = from, to do plain[i] = bxor(plain[i], key) end
  end
  local said = meaning(plain, is_answer)
  if said then tree:add(f.meaning, said) end

  if is_answer then
    if request then
      tree:add(f.request_in, request.number)
      tree:add(f.time, (pinfo.abs_ts - request.time) * 1000.0)
    end
    if outcome == OUTCOME_OTHER or (request and request.addr ~= addr and outcome ~= OUTCOME_ECHO) then
      tree:add_proto_expert_info(e_other, "Answer from address " .. addr)
    elseif outcome == OUTCOME_ECHO then
      tree:add_proto_expert_info(e_echo)
    elseif outcome == OUTCOME_SHORT or outcome == OUTCOME_LENGTH or outcome == OUTCOME_MALFORMED then
      tree:add_proto_expert_info(e_damaged, "Damaged answer: " .. outcomes[outcome])
    end
  else
    if answer_of[pinfo.number] then tree:add(f.response_in, answer_of[pinfo.number]) end
    if outcome == OUTCOME_SILENCE then
      tree:add_proto_expert_info(e_silence, last >= 0 and
        string.format("No answer: silence %.1f ms", ms(last)) or "No answer")
    end
  end

  local info = (is_answer and "<- " or "-> ") .. "addr " .. addr
  if said then info = info .. " " .. said end
  if not is_answer and outcome == OUTCOME_SILENCE then info = info .. " [silence]" end
  if status == "bad" then info = info .. " [bad checksum]" end
  pinfo.cols.info = info
  return tvb:len()
end

DissectorTable.get("wtap_encap"):add((wtap_encaps or wtap).USER9, loopmon)
